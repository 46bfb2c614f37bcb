#include "mlmap/ml_engine.h"

#include <algorithm>

#include "common/gauss.h"
#include "common/init.h"
#include "common/misc.h"
#include "mlmap/ml_init.h"
#include "mlmap/ml_membership.h"
#include "mlmap/ml_priors.h"
#include "mlmap/ml_scores.h"
#include "mlmap/ml_smem.h"
#include "output/print_data.h"

namespace veska {

namespace {

// The engine whose parameters a failing check writes to the log.
const MlEngine* g_current = nullptr;

void dump_current_params() {
  if (g_current != nullptr && log_stream() != nullptr) g_current->print_current_params(log_stream());
}

}  // namespace

MlEngine::MlEngine(Settings& settings, const AttrModel& model, const CaseTable& cases,
                   const SampleStats& stats, const StoredHparams* hparams)
    : settings_(settings),
      ctx_{settings, model, cases, stats},
      hparams_(hparams),
      views_(build_entry_views(cases, model)) {
  g_current = this;
  set_model_dump(dump_current_params);
}

MlEngine::~MlEngine() {
  if (g_current == this) {
    g_current = nullptr;
    set_model_dump(nullptr);
  }
}

void MlEngine::start_class_count(int K, bool report) {
  layout_ = make_layout(ctx_.model, K);
  if (hparams_ != nullptr) {
    priors_ = apply_hparams(settings_, ctx_.model, layout_, *hparams_);
  } else {
    if (resolve_auto_smoothing(settings_, ctx_.model, K) && report) {
      print_auto_smoothing(log_stream(), settings_, ctx_.model, K);
    }
    priors_ = set_up_priors(ctx_, layout_);
  }
  params_ = allocate_params(layout_);
  previous_ = params_;
  scales_ = block_scales(ctx_, layout_);
  work_ = MlWork{};  // the last K's arrays go before the next K's come
  // The verbose dump reads the per-entry normalisers after every E-step;
  // split-and-merge's partial runs and the memberships ask for them
  // themselves (keep_normalisers).
  work_ = allocate_work(layout_, views_, settings_.verbose);
  // The log domain needs every prior proper.
  work_.log_domain = settings_.log_scale && settings_.all_smoothing;
}

void MlEngine::initialise() {
  initialise_params(ctx_, layout_, params_);
  if (settings_.verbose) print_current_params(log_stream());
}

void MlEngine::initialise_from_partition(std::span<const int> groups) {
  initialise_params_from_partition(ctx_, layout_, priors_, scales_, groups, work_, params_);
  if (settings_.verbose) print_current_params(log_stream());
}

MlObjective MlEngine::evaluate(double beta) {
  work_.beta = beta;
  const double sum = compute_e_step(ctx_, layout_, params_, work_);
  if (settings_.verbose) {
    print_joint(log_stream(), ctx_, layout_, work_);
    print_normalisers(log_stream(), ctx_, work_);
  }
  MlObjective o;
  o.loglike = check_loglike(sum) / beta;
  if (map()) o.log_prior = compute_log_prior(layout_, priors_, params_);
  o.objective = o.loglike + o.log_prior;
  return o;
}

SingularBlock MlEngine::update() {
  previous_ = params_;  // same sizes: no allocation
  responsibilities_for_update(layout_, work_);
  compute_expected_stats(ctx_, layout_, params_, work_);
  m_step(ctx_, layout_, priors_, scales_, work_, params_);
  if (settings_.verbose) {
    print_ml_responsibilities(log_stream(), ctx_, layout_, work_);
    print_expected_stats(log_stream(), ctx_.model, layout_, work_);
    print_current_params(log_stream());
  }
  SingularBlock s = find_singular_block(layout_, scales_, params_);
  // The objective of the last evaluation describes the model before this
  // step; that model is the one kept.
  if (s.found) params_ = previous_;
  return s;
}

SmemCriteria MlEngine::smem_criteria() {
  evaluate(1.0);
  compute_expected_stats(ctx_, layout_, params_, work_);
  merge_counts_ = work_.e_class;
  SmemCriteria c;
  c.jmerge = compute_jmerge(layout_, work_, settings_.norm_jmerge);
  c.jsplit = compute_jsplit(layout_, params_, work_);
  c.class_probs = params_.pi;
  return c;
}

namespace {

struct Triple {
  int k[3];
};

Triple triple_of(const SmemCandidate& c) { return Triple{{c.i, c.j, c.k}}; }

}  // namespace

MlObjective MlEngine::partial_start(const SmemCandidate& c) {
  initialize_param_part(ctx_, layout_, params_, c, merge_counts_);
  if (settings_.verbose) print_current_params(log_stream());
  triple_mass_ = params_.pi[c.i] + params_.pi[c.j] + params_.pi[c.k];
  const MlObjective o = evaluate(1.0);
  keep_outside_weights(layout_, work_, triple_of(c).k);
  return o;
}

SingularBlock MlEngine::partial_update(const SmemCandidate& c) {
  const Triple t = triple_of(c);
  previous_ = params_;
  // The partial start's full E-step, then each partial E-step, left the
  // three classes' responsibilities.
  compute_expected_stats_part(ctx_, layout_, params_, work_, t.k);
  m_step_part(layout_, priors_, scales_, work_, params_, t.k, triple_mass_);
  if (settings_.verbose) print_current_params(log_stream());
  SingularBlock s = find_singular_block_part(layout_, scales_, params_, t.k);
  if (s.found) params_ = previous_;
  return s;
}

MlObjective MlEngine::partial_evaluate(const SmemCandidate& c) {
  const Triple t = triple_of(c);
  work_.beta = 1.0;
  const double sum = compute_e_step_part(ctx_, layout_, params_, work_, t.k);
  MlObjective o;
  o.loglike = check_loglike(sum);
  if (map()) o.log_prior = compute_log_prior(layout_, priors_, params_);
  o.objective = o.loglike + o.log_prior;
  return o;
}

double MlEngine::bic() {
  const double beta = work_.beta;
  work_.beta = 1.0;
  const double l = check_loglike(compute_e_step(ctx_, layout_, params_, work_));
  work_.beta = beta;
  return check_bic(compute_bic(ctx_, l, layout_.K));
}

std::optional<double> MlEngine::cheeseman_stutz() {
  if (!settings_.all_smoothing) return std::nullopt;
  work_.beta = 1.0;
  const double sum = compute_e_step(ctx_, layout_, params_, work_);
  compute_expected_stats(ctx_, layout_, params_, work_);
  const double l = check_loglike(sum);
  return check_cs(compute_cs(ctx_, layout_, priors_, params_, work_, l));
}

Memberships MlEngine::memberships(const MembershipNeeds& needs) {
  return take_ml_memberships(ctx_, layout_, params_, work_, needs);
}

void MlEngine::print_current_params(FILE* file) const {
  print_params(file, ctx_.model, layout_, params_);
}

}  // namespace veska
