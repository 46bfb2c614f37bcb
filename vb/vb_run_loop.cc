#include "vb/vb_run_loop.h"

#include <cstdio>

#include "common/misc.h"
#include "vb/print_vb.h"
#include "vb/vbem.h"

namespace veska {

namespace {

// A change in beta smaller than this is no change of temperature; a fall of
// F no larger than this is rounding.
constexpr double kTolerance = 1.0e-6;

bool tempered(const VbContext& ctx, const VbState& st) { return ctx.settings.daem && st.beta < 1.0; }

void engine_update(const VbContext& ctx, VbState& st) {
  compute_responsibilities(ctx, st);
  compute_sufficient_stats(ctx, st);
  update_hparams(ctx, st);
}

double engine_evaluate(const VbContext& ctx, VbState& st) {
  compute_expected_logs(ctx, st);
  if (tempered(ctx, st)) {
    compute_complete_prob_daem(ctx, st);
  } else {
    compute_complete_prob(ctx, st);
  }
  compute_log_normalisers(ctx, st);
  return tempered(ctx, st) ? compute_free_energy_daem(ctx, st) : compute_free_energy(ctx, st);
}

void print_end(const char* how, int t, double f) {
  msg_printf(" (%s: %d iters)\tF=%.Nf\n", how, t, f);
}


// Temperature passes from index t0 (F[t0] recorded): each pass iterates
// update + evaluate until the pass converges or reaches its limit; beta then
// grows by --itemp's rate until it reaches 1.
int run_passes(const VbContext& ctx, VbState& st, const RunTrace& trace, int t0, int limit,
               const VbemSteps& steps) {
  const Settings& s = ctx.settings;
  const bool daem = s.daem;
  const std::vector<double>& fe = *trace.fe_history;
  int t = t0;
  for (;;) {  // one temperature pass
    anneal_mark(trace.smem && trace.op != 0, daem, t, st.beta);
    for (int i = 0;;) {
      progress_mark(t);
      steps.update(ctx, st);
      const int next = t + 1;
      record_history(ctx, st, trace, next, steps.evaluate(ctx, st));
      check_free_energy_decrease(ctx, st, trace, next);
      ++i;

      const double f = fe[static_cast<size_t>(next)];
      const double gain = f - fe[static_cast<size_t>(t)];
      const char* end = nullptr;  // "" ends a pass below beta 1 silently
      if (daem) {
        const std::vector<double>& betas = *trace.beta_history;
        const bool same_beta =
            betas[static_cast<size_t>(next)] - betas[static_cast<size_t>(t)] < kTolerance;
        const bool converged = same_beta && gain > 0.0 && gain < s.epsilon;
        if (st.beta < 1.0) {
          if (i >= limit || converged) end = "";
        } else if (i >= limit) {
          end = "Stopped";
        } else if (converged) {
          end = "Converged";
        }
      } else if (next >= limit) {
        end = "Stopped";
      } else if (gain < s.epsilon && (!trace.smem || gain > 0.0)) {
        end = "Converged";
      }
      t = next;
      if (end == nullptr) continue;
      if (*end != '\0') print_end(end, t, f);
      break;
    }
    if (st.beta >= 1.0) break;
    st.beta *= s.beta_rate;
    if (st.beta > 1.0) st.beta = 1.0;
  }
  return t;
}

}  // namespace

const VbemSteps& vbem_steps() {
  static const VbemSteps steps{engine_update, engine_evaluate};
  return steps;
}

RunTrace restart_trace(VbState& st, int restart) {
  return RunTrace{&st.fe_history, &st.beta_history, "Restart", restart};
}

void record_history(const VbContext& ctx, const VbState& st, const RunTrace& trace, int t,
                    double f) {
  std::vector<double>& fe = *trace.fe_history;
  size_t capacity = fe.size();
  if (capacity == 0) capacity = kHistoryCapacity;
  while (static_cast<size_t>(t) >= capacity) capacity *= 2;
  if (capacity != fe.size()) {
    fe.resize(capacity);
    if (ctx.settings.daem) trace.beta_history->resize(capacity);
  }
  fe[static_cast<size_t>(t)] = f;
  if (ctx.settings.daem) (*trace.beta_history)[static_cast<size_t>(t)] = st.beta;
}

int run_vbem(const VbContext& ctx, VbState& st, int restart, int t0, int limit, double beta_init,
             const VbemSteps& steps) {
  const RunTrace trace = restart_trace(st, restart);
  st.beta = ctx.settings.daem ? beta_init : 1.0;
  record_history(ctx, st, trace, t0, steps.evaluate(ctx, st));
  if (ctx.settings.restarts > 1) {
    msg_printf("  [%d] #iters ", restart);
  } else {
    msg_printf("  #iters ");
  }
  return run_passes(ctx, st, trace, t0, limit, steps);
}

int run_vbem_traced(const VbContext& ctx, VbState& st, const RunTrace& trace, int t0, int limit,
                    double beta_init, const VbemSteps& steps) {
  st.beta = ctx.settings.daem ? beta_init : 1.0;
  record_history(ctx, st, trace, t0, steps.evaluate(ctx, st));
  return run_passes(ctx, st, trace, t0, limit, steps);
}

void check_free_energy_decrease(const VbContext& ctx, VbState& st, int restart, int t) {
  check_free_energy_decrease(ctx, st, restart_trace(st, restart), t);
}

void check_free_energy_decrease(const VbContext& ctx, const VbState& st, const RunTrace& trace,
                                int t) {
  const Settings& s = ctx.settings;
  const std::vector<double>& fe = *trace.fe_history;
  const double before = fe[static_cast<size_t>(t - 1)];
  const double after = fe[static_cast<size_t>(t)];
  double beta_before = 0.0, beta_after = 0.0;
  if (s.daem) {
    beta_before = (*trace.beta_history)[static_cast<size_t>(t - 1)];
    beta_after = (*trace.beta_history)[static_cast<size_t>(t)];
    if (!(beta_after - beta_before < kTolerance)) return;
  }
  if (!(before > after && before - after > kTolerance)) return;

  FreeEnergyDecrease d;
  d.K = st.K;
  d.op_label = trace.op_label;
  d.op = trace.op;
  d.t = t;
  d.before = before;
  d.after = after;
  d.beta = beta_after;
  print_decrease_error(log_stream(), d);

  // Fatal messages keep single line feeds; only the digits follow --prec-msg.
  const int p = s.prec_msg;
  if (s.daem) {
    die("\n(iter:%d) Variational free energy decreased! (before: %.*f (%.*f) | after: %.*f (%.*f) "
        "| diff: %.*f) -- see the log file\n",
        t, p, before, p, beta_before, p, after, p, beta_after, p, before - after);
  }
  die("\n(iter:%d) Variational free energy decreased! (before: %.*f | after: %.*f | diff: %.*f) "
      "-- see the log file\n",
      t, p, before, p, after, p, before - after);
}

}  // namespace veska
