#include "vb/vb_fit_engine.h"

#include <cstdio>

#include "common/init.h"
#include "common/misc.h"
#include "data/start_partition.h"
#include "output/print_data.h"
#include "output/print_fit_tables.h"
#include "vb/print_vb.h"
#include "fit/print_smem.h"
#include "vb/print_vb_smem.h"
#include "vb/vb_init.h"
#include "vb/vb_membership.h"
#include "vb/vbem.h"

namespace veska {

const FitRules& vb_fit_rules() {
  static const FitRules rules{};
  return rules;
}

const FitTexts& vb_fit_texts() {
  static const FitTexts texts{
      "F",
      "  <<Resumed best hyperparameter set #%d>>\n",
      "Variational Free Energy",
      "|Classes| = %d:\n",
      "\n(part) (iter:%d) Variational free energy decreased! (curr: %.Nf / last: %.Nf / diff: %.Nf)\n",
      "Couldn't allocate memory (vbsmem)\n",
  };
  return texts;
}

VbFitEngine::VbFitEngine(Settings& settings, const AttrModel& model, const CaseTable& cases,
                         const SampleStats& stats, const EntryViews& views)
    : settings_(settings), ctx_{settings, model, cases, stats, views} {}

VbFitEngine::~VbFitEngine() { free_vb_state(st_); }

void VbFitEngine::prepare(int K) {
  if (resolve_auto_smoothing(settings_, ctx_.model, K)) {
    print_auto_smoothing(log_stream(), settings_, ctx_.model, K);
  }
  free_vb_state(st_);  // the last K's arrays go before the next K's come
  st_ = allocate_vb_state(ctx_, K);
  set_gauss_priors(ctx_, st_);
}

void VbFitEngine::release() { free_vb_state(st_); }

void VbFitEngine::random_start() { init_hparams_random(ctx_, st_); }

std::vector<int> VbFitEngine::start_groups() {
  return start_partition(settings_, ctx_.model, ctx_.cases, ctx_.stats, st_.K);
}

void VbFitEngine::partition_start(std::span<const int> groups) {
  init_hparams_from_partition(ctx_, st_, groups);
}

bool VbFitEngine::update(double beta, int, double) {
  st_.beta = beta;
  compute_responsibilities(ctx_, st_);
  compute_sufficient_stats(ctx_, st_);
  update_hparams(ctx_, st_);
  return true;
}

FitObjective VbFitEngine::evaluate(double beta) {
  st_.beta = beta;
  const bool tempered = settings_.daem && beta < 1.0;
  compute_expected_logs(ctx_, st_);
  if (tempered) {
    compute_complete_prob_daem(ctx_, st_);
  } else {
    compute_complete_prob(ctx_, st_);
  }
  compute_log_normalisers(ctx_, st_);
  FitObjective o;
  o.objective = tempered ? compute_free_energy_daem(ctx_, st_) : compute_free_energy(ctx_, st_);
  return o;
}

double VbFitEngine::score() {
  st_.beta = 1.0;
  full_e_step(ctx_, st_);
  return compute_free_energy(ctx_, st_);
}

void VbFitEngine::save(FitSlot slot) {
  switch (slot) {
    case FitSlot::kBestRestart: best_ = st_.hparams(); break;
    case FitSlot::kOptimalK: opt_ = st_.hparams(); break;
    case FitSlot::kBeforeCandidate: take_snapshot(st_, before_); break;
  }
}

void VbFitEngine::restore(FitSlot slot) {
  switch (slot) {
    case FitSlot::kBestRestart: restore_hparams(best_, st_); break;
    case FitSlot::kOptimalK:
      free_vb_state(st_);
      st_ = allocate_vb_state(ctx_, static_cast<int>(opt_.delta.size()));
      restore_hparams(opt_, st_);
      break;
    case FitSlot::kBeforeCandidate: restore_snapshot(before_, st_); break;
  }
}

void VbFitEngine::drop(FitSlot slot) {
  switch (slot) {
    case FitSlot::kBestRestart: best_ = VbHparams{}; break;
    case FitSlot::kOptimalK: opt_ = VbHparams{}; break;
    case FitSlot::kBeforeCandidate: before_ = VbStateSnapshot{}; break;
  }
}

void VbFitEngine::report_decrease(const FitDecrease& fall) {
  print_decrease_error(log_stream(), st_.K, fall);

  // Fatal messages keep single line feeds; only the digits follow --prec-msg.
  const int p = settings_.prec_msg;
  const int t = fall.t;
  if (fall.annealing) {
    die("\n(iter:%d) Variational free energy decreased! (before: %.*f (%.*f) | after: %.*f (%.*f) "
        "| diff: %.*f) -- see the log file\n",
        t, p, fall.before, p, fall.beta_before, p, fall.after, p, fall.beta_after, p,
        fall.before - fall.after);
  }
  die("\n(iter:%d) Variational free energy decreased! (before: %.*f | after: %.*f | diff: %.*f) "
      "-- see the log file\n",
      t, p, fall.before, p, fall.after, p, fall.before - fall.after);
}

void VbFitEngine::write_history(const FitHistory& history, int t) {
  print_free_energy(log_stream(), st_.K, history, settings_.daem, t);
}

void VbFitEngine::write_range(const ClassRangeFit& range) {
  print_score(log_stream(), range.ks, range.scores, range.k_opt);
  for (const ClassCountFit& fit : range.fits) {
    print_seeds(log_stream(), settings_.k_range_given, fit.K, fit.best_restart, fit.runs,
                "Variational free energy");
  }
}

void VbFitEngine::write_model() {
  const std::string& name = settings_.files.hparam;
  FILE* f = fopen(name.c_str(), "wb");
  if (f == nullptr) die("Couldn't open %s\n", name.c_str());
  print_hparams(f, ctx_, st_);
  fclose(f);
}

void VbFitEngine::run_post_analysis() {
  // The predictive distributions use the Tau and Alpha the file records.
  veska::run_post_analysis(ctx_, st_, retained_scalars(st_));
}

SmemCriteria VbFitEngine::smem_criteria() {
  MembershipNeeds needs;  // the case arrays and P(x|k); no block's
  needs.blocks = false;
  Memberships mem = allocate_memberships(ctx_.model, ctx_.cases.n_entries, st_.K, needs);
  VbPredictive pred;
  compute_predictive(ctx_, st_, retained_scalars(st_), pred, mem);
  compute_membership(ctx_, pred, mem);
  SmemCriteria c;
  c.jmerge = compute_jmerge(ctx_.cases, mem, settings_.norm_jmerge);
  c.jsplit = compute_jsplit(mem);
  free_predictive(pred);
  c.class_probs = std::move(mem.p_class);
  return c;
}

std::vector<double> VbFitEngine::class_probs() { return smem_criteria().class_probs; }

FitObjective VbFitEngine::partial_start(const SmemCandidate& c) {
  st_.beta = 1.0;
  full_e_step(ctx_, st_);
  init_candidate(ctx_, st_, c);
  full_e_step(ctx_, st_);
  outside_log_sums(st_, c, outside_);
  FitObjective o;
  o.objective = compute_free_energy(ctx_, st_);
  return o;
}

bool VbFitEngine::partial_update(const SmemCandidate& c, int, double) {
  const int triple[3] = {c.i, c.j, c.k};
  compute_responsibilities_part(ctx_, st_, triple);
  compute_sufficient_stats_part(ctx_, st_, triple);
  update_hparams_part(ctx_, st_, triple);
  return true;
}

FitObjective VbFitEngine::partial_evaluate(const SmemCandidate& c) {
  const int triple[3] = {c.i, c.j, c.k};
  compute_expected_logs_part(ctx_, st_, triple);
  compute_complete_prob_part(ctx_, st_, triple);
  compute_log_normalisers_part(ctx_, st_, triple, outside_);
  FitObjective o;
  o.objective = compute_free_energy(ctx_, st_);
  return o;
}

void VbFitEngine::write_smem(int n_sm, const std::vector<SmemOperation>& ops) {
  print_smem_updates(log_stream(), "SMEM-STAT-EM-K%d", st_.K, n_sm, ops);
  print_smem_free_energy(log_stream(), st_.K, settings_.daem, ops);
  print_smem_candidates(log_stream(), "SMEM-STAT-SM-K%d", st_.K, n_sm, ops);
}

}  // namespace veska
