// The ML/MAP engine for one class count at a time: what a fit driver calls
// to start a class count, draw starting parameters, evaluate the objective
// at an inverse temperature, run the update half of an iteration, and score
// the result. It owns the model (a copyable parameter value), the priors
// and the work arrays, and writes the verbose dumps of every step.
#pragma once

#include <optional>
#include <span>

#include "analysis/memberships.h"
#include "data/read_hparam.h"
#include "fit/fit_engine.h"
#include "mlmap/em_steps.h"
#include "mlmap/ml_params.h"
#include "mlmap/print_mlmap.h"

namespace veska {

// The objective of one evaluation: L (divided by beta), LP (0 without a
// prior) and O = L + LP.
struct MlObjective {
  double loglike = 0.0;
  double log_prior = 0.0;
  double objective = 0.0;
};

class MlEngine {
 public:
  // `settings` is the run's: its "auto" constants and smoothing flags are
  // resolved per class count. With `hparams` the priors and K come from a
  // hyperparameter file instead.
  MlEngine(Settings& settings, const AttrModel& model, const CaseTable& cases,
           const SampleStats& stats, const StoredHparams* hparams = nullptr);
  ~MlEngine();
  MlEngine(const MlEngine&) = delete;
  MlEngine& operator=(const MlEngine&) = delete;

  // Resolves the priors for K (AUTO-SMOOTH-* to the log when some constant
  // is "auto" and `report`), sizes the model and the work arrays.
  void start_class_count(int K, bool report = true);
  // Starting parameters for the next run (PARAM-* to the log with --verbose).
  void initialise();
  // The same from a partition of the case-table entries (--start).
  void initialise_from_partition(std::span<const int> groups);
  // E-step at beta and normalisers; the objective.
  MlObjective evaluate(double beta);
  // Responsibilities, expected statistics and M-step. When the new
  // covariances are singular the parameters the last evaluation belongs to
  // are kept, and the singular block is returned.
  SingularBlock update();

  // ---- split-and-merge ----
  // Jmerge and Jsplit from an E-step at inverse temperature 1 on the current
  // parameters, whose expected class counts then weigh the merges of this
  // operation's candidates.
  SmemCriteria smem_criteria();
  // The candidate's start, a full E-step and the objective.
  MlObjective partial_start(const SmemCandidate& candidate);
  // One update of the three classes; a singular covariance among them keeps
  // their previous parameters and is returned.
  SingularBlock partial_update(const SmemCandidate& candidate);
  // The E-step of the three classes and the objective of the whole model.
  MlObjective partial_evaluate(const SmemCandidate& candidate);

  // BIC, and the Cheeseman-Stutz score when every prior is proper (both at
  // inverse temperature 1, checked).
  double bic();
  std::optional<double> cheeseman_stutz();
  // The membership quantities of the current parameters; the work's
  // per-entry arrays move into them (prepare again before another step).
  Memberships memberships(const MembershipNeeds& needs = {});

  // Whether the log-prior enters the objective.
  bool map() const { return settings_.any_smoothing; }
  int K() const { return layout_.K; }
  const MlParams& params() const { return params_; }
  void set_params(const MlParams& p) { params_ = p; }
  const MlLayout& layout() const { return layout_; }
  const MlContext& context() const { return ctx_; }

  // PARAM-* of the current parameters.
  void print_current_params(FILE* file) const;

 private:
  Settings& settings_;
  MlContext ctx_;
  const StoredHparams* hparams_;
  EntryViews views_;  // of the cases, for every K
  MlLayout layout_;
  MlParams params_;
  MlParams previous_;  // what the last evaluation belongs to
  MlPriors priors_;
  BlockScales scales_;
  MlWork work_;
  std::vector<double> merge_counts_;  // E_c at the operation's criteria
  double triple_mass_ = 0.0;          // pi_i + pi_j + pi_k at the candidate's start
};

}  // namespace veska
