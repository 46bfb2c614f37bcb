#include "mlmap/ml_fit_engine.h"

#include <cstdio>

#include "analysis/post_analysis.h"
#include "analysis/print_membership.h"
#include "common/misc.h"
#include "data/start_partition.h"
#include "fit/print_smem.h"
#include "mlmap/print_mlmap.h"
#include "output/print_fit_tables.h"

namespace veska {

const FitRules& ml_fit_rules() {
  static const FitRules rules = [] {
    FitRules r;
    r.keep_parts = true;
    r.smem_restart_limit_everywhere = true;
    // The partial run's last E-step is the full run's start.
    r.smem_full_run_evaluates = false;
    r.smem_accept_probs_after_run = true;
    // A single K of 2 runs the walk, which finds no candidate.
    r.smem_min_classes_single = 2;
    r.smem_label_before_start = true;
    return r;
  }();
  return rules;
}

const FitTexts& ml_fit_texts(const Settings& s) {
  static FitTexts texts{"L",
                        "  <<Resumed best parameter set #%d>>\n",
                        "",
                        "#classes = %d:\n",
                        "\n(part) (iter:%d) LL or LPost decreased! (curr: %.Nf / last: %.Nf)\n",
                        "Couldn't allocate memory (smem)\n"};
  texts.score_name = s.score_name.c_str();
  return texts;
}

namespace {

// A singular covariance ends the stage or the partial run with this message.
bool stopped_singular(const SingularBlock& s, int t, double objective) {
  if (!s.found) return false;
  msg_printf(" (Stopped: %d iters -- singular covars (det=%.Ne) at class#=%d, gauss#=%d)\tL=%.Nf\n",
             t, s.det, s.k, s.b, objective);
  return true;
}

}  // namespace

MlFitEngine::MlFitEngine(Settings& settings, const AttrModel& model, const CaseTable& cases,
                         const SampleStats& stats, const StoredHparams* hparams)
    : settings_(settings), engine_(settings, model, cases, stats, hparams) {}

void MlFitEngine::resolve_early(int K) {
  engine_.start_class_count(K);
  resolved_k_ = K;
}

void MlFitEngine::prepare(int K) {
  const bool ready = resolved_k_ == K;  // resolve_early has prepared it
  resolved_k_ = 0;
  if (!ready) engine_.start_class_count(K);
}

bool MlFitEngine::update(double /*beta*/, int t, double objective) {
  const SingularBlock s = engine_.update();
  return !stopped_singular(s, t, objective);
}

FitObjective MlFitEngine::evaluate(double beta) {
  const MlObjective o = engine_.evaluate(beta);
  return FitObjective{o.objective, o.loglike, o.log_prior};
}

double MlFitEngine::score() {
  MlScoreRow row;
  row.K = engine_.K();
  row.bic = engine_.bic();
  const std::optional<double> cs = engine_.cheeseman_stutz();
  row.cs_computed = cs.has_value();
  if (cs) row.cs = *cs;
  scores_.push_back(row);
  return settings_.score == kScoreCs ? row.cs : row.bic;
}

std::vector<int> MlFitEngine::start_groups() {
  const MlContext& c = engine_.context();
  return start_partition(settings_, c.model, c.cases, c.stats, engine_.K());
}

void MlFitEngine::save(FitSlot slot) { slots_[slot] = engine_.params(); }

void MlFitEngine::restore(FitSlot slot) {
  const MlParams& p = slots_.at(slot);
  // The optimal K's model goes into a model sized for it again, with its
  // priors resolved silently (their AUTO-SMOOTH-* were written once).
  if (p.K != engine_.K()) engine_.start_class_count(p.K, false);
  engine_.set_params(p);
}

void MlFitEngine::drop(FitSlot slot) { slots_.erase(slot); }

void MlFitEngine::report_decrease(const FitDecrease& d) {
  print_ml_decrease(log_stream(), engine_.K(), d, engine_.map());
  engine_.print_current_params(log_stream());
  // Fatal messages keep single line feeds; only the digits follow --prec-msg.
  const int p = settings_.prec_msg;
  // Within split-and-merge the message starts a line of its own.
  const char* lead = d.smem ? "\n" : "";
  if (d.annealing) {
    die("%s (iter:%d) LL or LPost decreased! (before: %.*f (%.*f) | after: %.*f (%.*f) | diff: "
        "%.*f) -- see the log file\n",
        lead, d.t, p, d.before, p, d.beta_before, p, d.after, p, d.beta_after, p, d.before - d.after);
  }
  die("%s (iter:%d) LL or LPost decreased! (before: %.*f | after: %.*f | diff: %.*f) -- see the "
      "log file\n",
      lead, d.t, p, d.before, p, d.after, p, d.before - d.after);
}

void MlFitEngine::write_history(const FitHistory& history, int t) {
  print_loglike(log_stream(), engine_.K(), history, engine_.map(), settings_.daem, t);
}

void MlFitEngine::write_range(const ClassRangeFit& range) {
  print_ml_score(log_stream(), scores_, settings_.score_name, range.k_opt);
  for (const ClassCountFit& fit : range.fits) {
    print_seeds(log_stream(), settings_.k_range_given, fit.K, fit.best_restart, fit.runs,
                engine_.map() ? "Log a posteriori prob." : "Log likelihood");
  }
}

void MlFitEngine::write_model() {
  if (settings_.verbose) engine_.print_current_params(log_stream());
  FILE* f = fopen(settings_.files.param.c_str(), "wb");
  if (f == nullptr) die("Couldn't open %s\n", settings_.files.param.c_str());
  engine_.print_current_params(f);
  fclose(f);
}

void MlFitEngine::run_post_analysis() {
  const MlContext& ctx = engine_.context();
  const bool announce = announce_memberships_ && settings_.mem_prob;
  if (announce) msg_printf("Computing membership distributions...");
  const Memberships mem = engine_.memberships(analysis_needs(settings_));
  const AnalysisInput in{settings_, ctx.model, ctx.cases, mem};
  if (settings_.verbose) {
    print_member_case(log_stream(), in);
    print_member_attributes(log_stream(), in);
  }
  PostAnalysisSteps steps;
  steps.done_after_membership_file = announce;
  analyse_memberships(in, steps);
}

SmemCriteria MlFitEngine::smem_criteria() { return engine_.smem_criteria(); }

std::vector<double> MlFitEngine::class_probs() { return engine_.params().pi; }

FitObjective MlFitEngine::partial_start(const SmemCandidate& c) {
  const MlObjective o = engine_.partial_start(c);
  return FitObjective{o.objective, o.loglike, o.log_prior};
}

bool MlFitEngine::partial_update(const SmemCandidate& c, int t, double objective) {
  const SingularBlock s = engine_.partial_update(c);
  return !stopped_singular(s, t, objective);
}

FitObjective MlFitEngine::partial_evaluate(const SmemCandidate& c) {
  const MlObjective o = engine_.partial_evaluate(c);
  return FitObjective{o.objective, o.loglike, o.log_prior};
}

void MlFitEngine::write_smem(int n_sm, const std::vector<SmemOperation>& ops) {
  print_loglike_smem(log_stream(), engine_.K(), ops, engine_.map(), settings_.daem);
  print_smem_candidates(log_stream(), "SMEM-OP-STAT-K%d", engine_.K(), n_sm, ops);
  print_smem_updates(log_stream(), "SMEM-EM-STAT-K%d", engine_.K(), n_sm, ops);
}

}  // namespace veska
