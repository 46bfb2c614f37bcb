#include "mlmap/ml_fit_engine.h"

#include <cstdio>

#include "analysis/cluster.h"
#include "analysis/print_membership.h"
#include "analysis/rank.h"
#include "common/misc.h"
#include "data/start_partition.h"
#include "fit/print_seeds.h"
#include "mlmap/print_mlmap.h"

namespace veska {

const FitRules& ml_fit_rules() {
  static const FitRules rules = [] {
    FitRules r;
    r.keep_parts = true;
    return r;
  }();
  return rules;
}

const FitTexts& ml_fit_texts(const Settings& s) {
  static FitTexts texts{"L", "  <<Resumed best parameter set #%d>>\n", "", "#classes = %d:\n",
                        "", ""};
  texts.score_name = s.score_name.c_str();
  return texts;
}

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
  if (!s.found) return true;
  msg_printf(" (Stopped: %d iters -- singular covars (det=%.Ne) at class#=%d, gauss#=%d)\tL=%.Nf\n",
             t, s.det, s.k, s.b, objective);
  return false;
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
  if (d.annealing) {
    die(" (iter:%d) LL or LPost decreased! (before: %.*f (%.*f) | after: %.*f (%.*f) | diff: "
        "%.*f) -- see the log file\n",
        d.t, p, d.before, p, d.beta_before, p, d.after, p, d.beta_after, p, d.before - d.after);
  }
  die(" (iter:%d) LL or LPost decreased! (before: %.*f | after: %.*f | diff: %.*f) -- see the "
      "log file\n",
      d.t, p, d.before, p, d.after, p, d.before - d.after);
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
  const Memberships mem = engine_.memberships();
  const AnalysisInput in{settings_, ctx.model, ctx.cases, mem};
  if (settings_.verbose) {
    print_member_case(log_stream(), in);
    print_member_attributes(log_stream(), in);
  }
  if (settings_.mem_prob) write_membership_file(in);
  cluster_cases(in);
  if (settings_.rank_given) rank_relevant(in);
}

namespace {

[[noreturn]] void no_split_merge() { die("Internal error: rumel has no split-and-merge\n"); }

}  // namespace

SmemCriteria MlFitEngine::smem_criteria() { no_split_merge(); }
std::vector<double> MlFitEngine::class_probs() { return engine_.params().pi; }
FitObjective MlFitEngine::partial_start(const SmemCandidate&) { no_split_merge(); }
bool MlFitEngine::partial_update(const SmemCandidate&, int, double) { no_split_merge(); }
FitObjective MlFitEngine::partial_evaluate(const SmemCandidate&) { no_split_merge(); }
void MlFitEngine::write_smem(int, const std::vector<SmemOperation>&) { no_split_merge(); }

}  // namespace veska
