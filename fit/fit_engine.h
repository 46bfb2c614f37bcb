// What the fit driver needs of an estimation engine: the maths of one model
// family (allocation, random start, one update, the objective, copies of
// the model, the split-and-merge steps) and the texts and data matrices in
// which the engine names its objective. Everything around them (restarts,
// class-count selection, the stages of a run, the split-and-merge walk) is
// the driver's, written once for every engine.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fit/fit_history.h"
#include "fit/smem_candidates.h"
#include "output/print_fit_tables.h"  // RestartRecord

namespace veska {

// Named copies of the model an engine keeps for the driver.
enum class FitSlot {
  kBestRestart,      // the best restart of the current K
  kOptimalK,         // the model of the best K of a range
  kBeforeCandidate,  // the model before a split-and-merge operation
};

// The fit of one class count.
struct ClassCountFit {
  int K = 0;
  double score = 0.0;  // what selects among the class counts
  int best_restart = 0;
  std::vector<RestartRecord> runs;  // one per restart
};

// The fits of the whole class-count range, in range order.
struct ClassRangeFit {
  std::vector<int> ks;
  std::vector<ClassCountFit> fits;
  std::vector<double> scores;
  int k_opt = 0;
};

// What one split-and-merge operation leaves behind. Operation 0 is the
// restart phase; operations 1..n_sm are the split-and-merge steps.
struct SmemOperation {
  // The retained run: the best restart for operation 0, the accepted
  // candidate otherwise (empty when none was accepted).
  FitHistory history;
  int partial_updates = 0;  // updates of the accepted candidate's partial run
  int updates = 0;          // its final history index (0: nothing accepted)
  int rejected = 0;         // candidates examined and rejected
  int ignored = 0;          // candidates skipped
};

// A fall of the objective within one temperature, for the engine to report.
struct FitDecrease {
  const char* op_label = "Restart";  // or "SplitMergeOperation"
  int op = 0;                        // restart or operation number
  bool smem = false;                 // a run of the split-and-merge walk
  bool annealing = false;
  int t = 0;  // index of the lower value
  double before = 0.0;
  double after = 0.0;
  double beta_before = 0.0;  // 0 without annealing
  double beta_after = 0.0;
};

// The merge and split criteria of the current model and its class
// probabilities (those the skip rules read).
struct SmemCriteria {
  std::vector<double> jmerge;  // K x K, entry i * K + j used for i < j
  std::vector<double> jsplit;  // K
  std::vector<double> class_probs;
};

// Where the two engines' rules differ.
struct FitRules {
  // L and LP histories beside the objective's.
  bool keep_parts = false;
  // Split-and-merge: the restart limit (-l with several restarts) for every
  // run, not only for the restarts (which then take it uncapped either way).
  bool smem_restart_limit_everywhere = false;
  // Split-and-merge: a candidate's full run evaluates the model again at its
  // start index; otherwise it goes on from the partial run's evaluation
  // (always evaluating when that index is 0).
  bool smem_full_run_evaluates = true;
  // Split-and-merge: acceptance reads the class probabilities after the
  // candidate's run instead of those before the operation.
  bool smem_accept_probs_after_run = false;
  // Smallest K that runs split-and-merge, for a single K and within a range.
  int smem_min_classes_single = 3;
  // Split-and-merge: each restart's "  [r] #iters " before its random start
  // rather than after it.
  bool smem_label_before_start = false;
  int smem_min_classes_range = 3;
};

// The engine's own words.
struct FitTexts {
  const char* objective_letter;  // of the end messages: " (Converged: %d iters)\tF=..."
  const char* resume_format;     // "  <<Resumed best ... set #%d>>\n"
  const char* score_name;        // of the class-count score lines
  const char* single_k_header;   // "...%d:\n" before the fit of a single K
  // A fall within a partial run, with (t, current, last, last - current).
  const char* partial_decrease_format;
  // Standard error text when the split-and-merge records cannot be had.
  const char* smem_alloc_failure;
};

class FitEngine {
 public:
  virtual ~FitEngine() = default;

  virtual const FitRules& rules() const = 0;
  virtual const FitTexts& texts() const = 0;

  // ---- one class count ----
  // Resolves what depends on K, allocates the model for K and sets its
  // priors; the model of a previous K was released before.
  virtual void prepare(int K) = 0;
  // Frees the model of the current K (the slots stay as they are).
  virtual void release() = 0;
  virtual int classes() const = 0;
  // A random starting model from the process-wide generator.
  virtual void random_start() = 0;
  // The groups (0 .. K-1) of the case-table entries that --start asks for,
  // drawn from the process-wide generator; empty for the random start. An
  // engine without a partition start keeps this default and starts at
  // random.
  virtual std::vector<int> start_groups() { return {}; }
  // A starting model from start_groups' partition: the engine's own first
  // update from it, without draws. Never called while start_groups gives
  // nothing.
  virtual void partition_start(std::span<const int> /*groups*/) {}
  // One update at inverse temperature beta (responsibilities, statistics,
  // new parameters). Returns false to end the current stage at index t
  // without an evaluation, after writing its own message (given t and O[t]).
  virtual bool update(double beta, int t, double objective) = 0;
  // The E-step at beta (tempered below 1 when annealing) and the objective.
  virtual FitObjective evaluate(double beta) = 0;
  // The score of the fitted model that selects among class counts (larger
  // is better); may evaluate the model again.
  virtual double score() = 0;

  // ---- copies ----
  virtual void save(FitSlot slot) = 0;
  // Into the current model; kOptimalK first allocates the model for the
  // saved K (the current one was released).
  virtual void restore(FitSlot slot) = 0;
  virtual void drop(FitSlot slot) = 0;

  // ---- reports ----
  // Writes the fall to the log and ends the program; must not return.
  virtual void report_decrease(const FitDecrease& decrease) = 0;
  // The learning curve of the retained run, indices 0..t-1.
  virtual void write_history(const FitHistory& history, int t) = 0;
  // Scores and seeds of the whole range.
  virtual void write_range(const ClassRangeFit& range) = 0;
  // The model file of the selected model.
  virtual void write_model() = 0;
  // Memberships and everything computed from them, on the selected model.
  virtual void run_post_analysis() = 0;

  // ---- split-and-merge ----
  virtual SmemCriteria smem_criteria() = 0;
  // The class probabilities of the current model.
  virtual std::vector<double> class_probs() = 0;
  // Moves the model to the candidate's start and returns its evaluation at
  // beta 1 (partial index 0).
  virtual FitObjective partial_start(const SmemCandidate& candidate) = 0;
  // One update of the candidate's three classes; false ends the partial run
  // at t (the engine wrote why).
  virtual bool partial_update(const SmemCandidate& candidate, int t, double objective) = 0;
  // The E-step of the three classes and the objective of the whole model.
  virtual FitObjective partial_evaluate(const SmemCandidate& candidate) = 0;
  // The data matrices of the walk; `ops` holds the operations that ran.
  virtual void write_smem(int n_sm, const std::vector<SmemOperation>& ops) = 0;
};

}  // namespace veska
