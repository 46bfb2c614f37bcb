// The ML/MAP engine as the fit driver sees it: the EM steps, the
// log-likelihood (plus the log-prior under MAP) as the objective, BIC or
// the Cheeseman-Stutz score as the class-count score, copies of the
// parameters, and rumel's data matrices and texts.
#pragma once

#include <map>
#include <vector>

#include "fit/fit_engine.h"
#include "mlmap/ml_engine.h"

namespace veska {

const FitRules& ml_fit_rules();
const FitTexts& ml_fit_texts(const Settings& settings);

class MlFitEngine : public FitEngine {
 public:
  // As MlEngine; with `hparams` the class count is the file's.
  MlFitEngine(Settings& settings, const AttrModel& model, const CaseTable& cases,
              const SampleStats& stats, const StoredHparams* hparams = nullptr);

  MlEngine& engine() { return engine_; }
  // Resolves the "auto" constants of K and writes AUTO-SMOOTH-* now, so
  // that they precede the data-size matrices of a single class count;
  // prepare(K) then does not write them again.
  void resolve_early(int K);
  // The post-analysis of a model read from a file tells when it computes
  // the memberships of the membership file and when that file is done.
  void announce_memberships() { announce_memberships_ = true; }

  const FitRules& rules() const override { return ml_fit_rules(); }
  const FitTexts& texts() const override { return ml_fit_texts(settings_); }

  void prepare(int K) override;
  void release() override {}
  int classes() const override { return engine_.K(); }
  void random_start() override { engine_.initialise(); }
  std::vector<int> start_groups() override;
  void partition_start(std::span<const int> groups) override {
    engine_.initialise_from_partition(groups);
  }
  // A singular covariance ends the stage (the message here, the parameters
  // the last evaluation belongs to kept).
  bool update(double beta, int t, double objective) override;
  FitObjective evaluate(double beta) override;
  // BIC or Cheeseman-Stutz as the settings select; both are kept for SCORE.
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
  MlEngine engine_;
  int resolved_k_ = 0;
  bool announce_memberships_ = false;  // the K whose AUTO-SMOOTH-* resolve_early wrote
  std::map<FitSlot, MlParams> slots_;
  std::vector<MlScoreRow> scores_;  // per fitted K, in fitting order
};

}  // namespace veska
