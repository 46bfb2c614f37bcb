// The variational-Bayes engine as the fit driver sees it: the VBEM steps,
// the free energy as the objective, copies of the hyperparameters, the
// split-and-merge maths and the engine's data matrices and texts.
#pragma once

#include <vector>

#include "common/attributes.h"
#include "common/settings.h"
#include "data/read_freq.h"
#include "data/stat.h"
#include "fit/fit_engine.h"
#include "vb/vb_smem.h"
#include "vb/vb_state.h"

namespace veska {

// The rules and texts of rumelvb.
const FitRules& vb_fit_rules();
const FitTexts& vb_fit_texts();

class VbFitEngine : public FitEngine {
 public:
  // `settings` is the one the context refers to: the "auto" smoothing
  // constants are resolved in it for each K.
  VbFitEngine(Settings& settings, const AttrModel& model, const CaseTable& cases,
              const SampleStats& stats, const EntryViews& views);
  ~VbFitEngine() override;
  VbFitEngine(const VbFitEngine&) = delete;
  VbFitEngine& operator=(const VbFitEngine&) = delete;

  const VbContext& context() const { return ctx_; }
  VbState& state() { return st_; }

  const FitRules& rules() const override { return vb_fit_rules(); }
  const FitTexts& texts() const override { return vb_fit_texts(); }

  void prepare(int K) override;
  void release() override;
  int classes() const override { return st_.K; }
  void random_start() override;
  std::vector<int> start_groups() override;
  void partition_start(std::span<const int> groups) override;
  bool update(double beta, int t, double objective) override;
  FitObjective evaluate(double beta) override;
  // The free energy at beta 1 whatever the annealing left.
  double score() override;

  void save(FitSlot slot) override;
  void restore(FitSlot slot) override;
  void drop(FitSlot slot) override;

  void report_decrease(const FitDecrease& decrease) override;
  void write_history(const FitHistory& history, int t) override;
  void write_range(const ClassRangeFit& range) override;
  void write_model() override;
  void run_post_analysis() override;

  SmemCriteria smem_criteria() override;
  std::vector<double> class_probs() override;
  FitObjective partial_start(const SmemCandidate& candidate) override;
  bool partial_update(const SmemCandidate& candidate, int t, double objective) override;
  FitObjective partial_evaluate(const SmemCandidate& candidate) override;
  void write_smem(int n_sm, const std::vector<SmemOperation>& ops) override;

 private:
  Settings& settings_;
  VbContext ctx_;
  VbState st_;
  VbHparams best_, opt_;  // empty when not saved
  VbStateSnapshot before_;
  std::vector<double> outside_;  // the partial run's sums outside the triple
};

}  // namespace veska
