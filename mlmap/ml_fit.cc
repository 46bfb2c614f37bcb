#include "mlmap/ml_fit.h"

#include <algorithm>
#include <cstdio>

#include "common/misc.h"
#include "common/random.h"

namespace veska {

namespace {

// A change in beta smaller than this is no change of temperature; a fall of
// the objective no larger than this is rounding.
constexpr double kTolerance = 1.0e-6;
constexpr int kHistoryCapacity = 10000;

int full_limit(const Settings& s) { return s.max_iter < 1 ? kMaxIterLimit : s.max_iter; }

int restart_limit(const Settings& s) {
  const int full = full_limit(s);
  if (s.restarts < 2) return full;
  const int l = s.max_iter_restart;
  return (l < 1 || l >= full) ? full : l;
}

void record(MlHistory& h, int t, const MlObjective& o, double beta) {
  if (static_cast<size_t>(t) >= h.objective.size()) {
    size_t capacity = std::max<size_t>(h.objective.size(), kHistoryCapacity);
    while (static_cast<size_t>(t) >= capacity) capacity *= 2;
    h.loglike.resize(capacity);
    h.log_prior.resize(capacity);
    h.objective.resize(capacity);
    h.beta.resize(capacity);
  }
  h.loglike[t] = o.loglike;
  h.log_prior[t] = o.log_prior;
  h.objective[t] = o.objective;
  h.beta[t] = beta;
}

// Ends the program when the objective fell by more than the tolerance from
// t - 1 to t within one temperature.
void check_decrease(MlEngine& engine, const MlHistory& h, int restart, int t) {
  const Settings& s = engine.context().settings;
  const double before = h.objective[t - 1], after = h.objective[t];
  if (s.daem && !(h.beta[t] - h.beta[t - 1] < kTolerance)) return;
  if (!(before > after && before - after > kTolerance)) return;
  MlDecrease d;
  d.K = engine.K();
  d.op = restart;
  d.t = t;
  d.before = before;
  d.after = after;
  d.daem = s.daem;
  d.beta = h.beta[t];
  print_ml_decrease(log_stream(), d, engine.map());
  engine.print_current_params(log_stream());
  const int p = s.prec_msg;
  if (s.daem) {
    die(" (iter:%d) LL or LPost decreased! (before: %.*f (%.*f) | after: %.*f (%.*f) | diff: "
        "%.*f) -- see the log file\n",
        t, p, before, p, h.beta[t - 1], p, after, p, h.beta[t], p, before - after);
  }
  die(" (iter:%d) LL or LPost decreased! (before: %.*f | after: %.*f | diff: %.*f) -- see the "
      "log file\n",
      t, p, before, p, after, p, before - after);
}

// One EM run from index t0 (limit T: the history index without annealing,
// the iterations of each temperature with it). Returns the final index.
int run_em(MlEngine& engine, MlHistory& h, int restart, int t0, int limit, double& beta) {
  const Settings& s = engine.context().settings;
  const bool daem = s.daem;
  if (!daem) beta = 1.0;
  record(h, t0, engine.evaluate(beta), beta);
  if (s.restarts < 2) {
    msg_printf("  #iters ");
  } else {
    msg_printf("  [%d] #iters ", restart);
  }
  int t = t0;
  for (;;) {  // one temperature
    anneal_mark(daem, t, beta);
    for (int i = 0;;) {
      progress_mark(t);
      const SingularBlock singular = engine.update();
      if (singular.found) {
        msg_printf(" (Stopped: %d iters -- singular covars (det=%.Ne) at class#=%d, gauss#=%d)\tL=%.Nf\n",
                   t, singular.det, singular.k, singular.b, h.objective[t]);
        break;
      }
      ++t;
      record(h, t, engine.evaluate(beta), beta);
      check_decrease(engine, h, restart, t);
      ++i;
      const double gain = h.objective[t] - h.objective[t - 1];
      const char* end = nullptr;  // "" ends a temperature below 1 silently
      if (!daem) {
        if (t >= limit) {
          end = "Stopped";
        } else if (gain < s.epsilon) {
          end = "Converged";
        }
      } else {
        // A pass whose objective stopped changing exactly has converged too.
        const bool converged = h.beta[t] - h.beta[t - 1] < kTolerance && gain >= 0.0 && gain < s.epsilon;
        if (i >= limit) {
          end = beta < 1.0 ? "" : "Stopped";
        } else if (converged) {
          end = beta < 1.0 ? "" : "Converged";
        }
      }
      if (end == nullptr) continue;
      if (*end != '\0') msg_printf(" (%s: %d iters)\tL=%.Nf\n", end, t, h.objective[t]);
      break;
    }
    if (!daem || beta >= 1.0) break;
    beta = std::min(1.0, beta * s.beta_rate);
  }
  return t;
}

}  // namespace

void fit_class_count(MlEngine& engine, MlClassCountFit& fit) {
  const Settings& s = engine.context().settings;
  fit.K = engine.K();
  fit.best_restart = 0;
  fit.runs.assign(static_cast<size_t>(s.restarts), MlRunRecord{});
  MlHistory history, best_history;
  MlParams best;
  int best_t = 0;
  double best_beta = 1.0;
  for (int r = 0; r < s.restarts; ++r) {
    MlRunRecord& run = fit.runs[r];
    if (!s.seed_given) {
      // Each restart gets its own recorded seed, so any one of them can be
      // rerun alone with --seed.
      run.seeded = true;
      run.seed = static_cast<uint32_t>(rng_u31());
      rng_seed(run.seed);
    }
    engine.initialise();
    double beta = s.beta_init;
    const int t = run_em(engine, history, r, 0, restart_limit(s), beta);
    run.updates = t;
    run.objective = history.objective[t];
    if (r == 0 || run.objective > fit.runs[fit.best_restart].objective) {
      fit.best_restart = r;
      best_t = t;
      best_beta = beta;
      best = engine.params();
      best_history = history;
    }
  }
  engine.set_params(best);
  history = best_history;
  int t = best_t;
  if (s.restarts > 1) {
    msg_printf("  <<Resumed best parameter set #%d>>\n", fit.best_restart);
    t = run_em(engine, history, fit.best_restart, best_t, full_limit(s), best_beta);
  }
  fit.result = MlObjective{history.loglike[t], history.log_prior[t], history.objective[t]};
  print_loglike(log_stream(), fit.K, history, engine.map(), s.daem, t);
}

}  // namespace veska
