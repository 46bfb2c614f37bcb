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

// The only allocation of a run: a history doubles when index t reaches its
// capacity.
void ensure_capacity(const VbContext& ctx, VbState& st, int t) {
  size_t capacity = st.fe_history.size();
  if (capacity == 0) capacity = kHistoryCapacity;
  while (static_cast<size_t>(t) >= capacity) capacity *= 2;
  if (capacity == st.fe_history.size()) return;
  st.fe_history.resize(capacity);
  if (ctx.settings.daem) st.beta_history.resize(capacity);
}

void record(const VbContext& ctx, VbState& st, int t, double f) {
  ensure_capacity(ctx, st, t);
  st.fe_history[t] = f;
  if (ctx.settings.daem) st.beta_history[t] = st.beta;
}

void print_end(const char* how, int t, double f) {
  msg_printf(" (%s: %d iters)\tF=%.Nf\n", how, t, f);
}

}  // namespace

const VbemSteps& vbem_steps() {
  static const VbemSteps steps{engine_update, engine_evaluate};
  return steps;
}

int run_vbem(const VbContext& ctx, VbState& st, int restart, int t0, int limit, double beta_init,
             const VbemSteps& steps) {
  const Settings& s = ctx.settings;
  const bool daem = s.daem;
  st.beta = daem ? beta_init : 1.0;
  record(ctx, st, t0, steps.evaluate(ctx, st));

  if (s.restarts > 1) {
    msg_printf("  [%d] #iters ", restart);
  } else {
    msg_printf("  #iters ");
  }

  int t = t0;
  for (;;) {  // one temperature pass
    anneal_mark(daem, t, st.beta);
    for (int i = 0;;) {
      progress_mark(t);
      steps.update(ctx, st);
      const int next = t + 1;
      record(ctx, st, next, steps.evaluate(ctx, st));
      check_free_energy_decrease(ctx, st, restart, next);
      ++i;

      const double gain = st.fe_history[next] - st.fe_history[t];
      bool done = false;
      if (daem) {
        bool same_beta = st.beta_history[next] - st.beta_history[t] < kTolerance;
        bool converged = same_beta && gain > 0.0 && gain < s.epsilon;
        if (st.beta < 1.0) {
          done = i >= limit || converged;
        } else if (i >= limit) {
          print_end("Stopped", next, st.fe_history[next]);
          done = true;
        } else if (converged) {
          print_end("Converged", next, st.fe_history[next]);
          done = true;
        }
      } else if (next >= limit) {
        print_end("Stopped", next, st.fe_history[next]);
        done = true;
      } else if (gain < s.epsilon) {
        print_end("Converged", next, st.fe_history[next]);
        done = true;
      }
      t = next;
      if (done) break;
    }
    if (st.beta >= 1.0) break;
    st.beta *= s.beta_rate;
    if (st.beta > 1.0) st.beta = 1.0;
  }
  return t;
}

void check_free_energy_decrease(const VbContext& ctx, const VbState& st, int restart, int t) {
  const Settings& s = ctx.settings;
  const double before = st.fe_history[t - 1];
  const double after = st.fe_history[t];
  if (s.daem && !(st.beta_history[t] - st.beta_history[t - 1] < kTolerance)) return;
  if (!(before > after && before - after > kTolerance)) return;

  FreeEnergyDecrease d;
  d.K = st.K;
  d.op_label = "Restart";
  d.op = restart;
  d.t = t;
  d.before = before;
  d.after = after;
  d.beta = s.daem ? st.beta_history[t] : 0.0;
  print_decrease_error(log_stream(), d);

  // Fatal messages keep single line feeds; only the digits follow --prec-msg.
  const int p = s.prec_msg;
  if (s.daem) {
    die("\n(iter:%d) Variational free energy decreased! (before: %.*f (%.*f) | after: %.*f (%.*f) "
        "| diff: %.*f) -- see the log file\n",
        t, p, before, p, st.beta_history[t - 1], p, after, p, st.beta_history[t], p, before - after);
  }
  die("\n(iter:%d) Variational free energy decreased! (before: %.*f | after: %.*f | diff: %.*f) "
      "-- see the log file\n",
      t, p, before, p, after, p, before - after);
}

}  // namespace veska
