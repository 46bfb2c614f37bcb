#include "fit/run_loop.h"

#include "common/misc.h"

namespace veska {

namespace {

// A change in beta smaller than this is no change of temperature; a fall of
// the objective no larger than this is rounding.
constexpr double kTolerance = 1.0e-6;

}  // namespace

int full_limit(const Settings& s) { return s.max_iter < 1 ? kMaxIterLimit : s.max_iter; }

double start_beta(const Settings& s, double beta_init) { return s.daem ? beta_init : 1.0; }

void evaluate_start(const Settings& s, FitEngine& engine, const RunPlace& place, int t0,
                    double beta) {
  place.history->record(t0, engine.evaluate(beta), beta, s.daem, engine.rules().keep_parts);
}

RunEnd run_stages(const Settings& s, FitEngine& engine, const RunPlace& place, int t0, int limit,
                  double beta) {
  const bool daem = s.daem;
  const bool parts = engine.rules().keep_parts;
  FitHistory& h = *place.history;
  int t = t0;
  for (;;) {  // one stage
    anneal_mark(place.smem && place.op != 0, daem, t, beta);
    for (int i = 0;;) {
      progress_mark(t);
      if (!engine.update(beta, t, h.at(t))) break;
      const int next = t + 1;
      h.record(next, engine.evaluate(beta), beta, daem, parts);
      check_decrease(s, engine, place, next);
      ++i;

      const double o = h.at(next);
      const double gain = o - h.at(t);
      const char* end = nullptr;  // "" ends a stage below beta 1 silently
      if (daem) {
        const bool same_beta = h.beta_at(next) - h.beta_at(t) < kTolerance;
        // An objective that stopped changing exactly (two classes became
        // identical, say) has converged as well: it would stay so forever.
        const bool converged = same_beta && gain >= 0.0 && gain < s.epsilon;
        if (beta < 1.0) {
          if (i >= limit || converged) end = "";
        } else if (i >= limit) {
          end = "Stopped";
        } else if (converged) {
          end = "Converged";
        }
      } else if (next >= limit) {
        end = "Stopped";
      } else if (gain < s.epsilon && (!place.smem || gain > 0.0)) {
        end = "Converged";
      }
      t = next;
      if (end == nullptr) continue;
      if (*end != '\0') {
        msg_printf(" (%s: %d iters)\t%s=%.Nf\n", end, t, engine.texts().objective_letter, o);
      }
      break;
    }
    if (beta >= 1.0) break;
    beta *= s.beta_rate;
    if (beta > 1.0) beta = 1.0;
  }
  return RunEnd{t, beta};
}

void check_decrease(const Settings& s, FitEngine& engine, const RunPlace& place, int t) {
  const FitHistory& h = *place.history;
  FitDecrease d;
  d.op_label = place.op_label;
  d.op = place.op;
  d.smem = place.smem;
  d.annealing = s.daem;
  d.t = t;
  d.before = h.at(t - 1);
  d.after = h.at(t);
  if (s.daem) {
    d.beta_before = h.beta_at(t - 1);
    d.beta_after = h.beta_at(t);
    if (!(d.beta_after - d.beta_before < kTolerance)) return;
  }
  if (!(d.before > d.after && d.before - d.after > kTolerance)) return;
  engine.report_decrease(d);
  die("Internal error: a fall of the objective went unreported\n");
}

}  // namespace veska
