#include "vb/vb_driver.h"

#include <cstdio>

#include "common/init.h"
#include "common/misc.h"
#include "common/random.h"
#include "output/print_data.h"
#include "vb/vb_init.h"
#include "vb/vb_membership.h"
#include "vb/vb_run_loop.h"
#include "vb/vb_smem.h"
#include "vb/vbem.h"

namespace veska {

namespace {

// --max-iterate below 1 means the largest limit.
int full_limit(const Settings& s) { return s.max_iter < 1 ? kMaxIterLimit : s.max_iter; }

// Preliminary limit of each restart when there are several.
int restart_limit(const Settings& s) {
  int full = full_limit(s);
  if (s.restarts < 2) return full;
  int l = s.max_iter_restart;
  return (l < 1 || l >= full) ? full : l;
}

// Allocation and priors of the state for K, after its "auto" constants are
// resolved.
VbState prepare_class_count(Settings& s, const VbContext& ctx, int K) {
  if (resolve_auto_smoothing(s, ctx.model, K)) print_auto_smoothing(log_stream(), s, ctx.model, K);
  VbState st = allocate_vb_state(ctx, K);
  set_gauss_priors(ctx, st);
  return st;
}

void write_hparam_file(const VbContext& ctx, const VbState& st) {
  const std::string& name = ctx.settings.files.hparam;
  FILE* f = fopen(name.c_str(), "wb");
  if (f == nullptr) die("Couldn't open %s\n", name.c_str());
  print_hparams(f, ctx, st);
  fclose(f);
}

}  // namespace

void run_restarts(const VbContext& ctx, VbState& st, ClassCountFit& fit) {
  const Settings& s = ctx.settings;
  const int full = full_limit(s);
  const int limit = restart_limit(s);
  VbSavedState best;  // hyperparameters and histories of the best restart
  int best_t = 0;
  double best_beta = 1.0;
  fit.runs.assign(static_cast<size_t>(s.restarts), VbRunRecord{});
  for (int r = 0; r < s.restarts; ++r) {
    VbRunRecord& run = fit.runs[r];
    if (!s.seed_given) {
      // Each restart gets its own recorded seed, so any one of them can be
      // rerun alone with --seed.
      run.seeded = true;
      run.seed = static_cast<uint32_t>(rng_u31());
      rng_seed(run.seed);
    }
    init_hparams_random(ctx, st);
    int t = run_vbem(ctx, st, r, 0, limit, s.beta_init);
    run.updates = t;
    run.free_energy = st.fe_history[t];
    // Ties keep the earlier restart.
    if (r == 0 || run.free_energy > fit.runs[fit.best_restart].free_energy) {
      fit.best_restart = r;
      best_t = t;
      best_beta = st.beta;
      save_hparams_best(st, best);
    }
  }
  restore_hparams_best(best, st);
  drop_saved_state(best);

  int t = best_t;
  if (s.restarts > 1) {
    msg_printf("  <<Resumed best hyperparameter set #%d>>\n", fit.best_restart);
    t = run_vbem(ctx, st, fit.best_restart, best_t, full, best_beta);
  }
  print_free_energy(log_stream(), st, s.daem, t);
}

double fit_class_count(const VbContext& ctx, VbState& st, ClassCountFit& fit) {
  const Settings& s = ctx.settings;
  fit.K = st.K;
  if (s.n_sm < 1 || st.K < 3) {
    run_restarts(ctx, st, fit);
  } else {
    run_split_merge(ctx, st, fit);  // performs the restarts itself
  }
  st.beta = 1.0;
  compute_expected_logs(ctx, st);
  compute_complete_prob(ctx, st);
  compute_log_normalisers(ctx, st);
  fit.free_energy = compute_free_energy(ctx, st);
  return fit.free_energy;
}

void run_class_range(Settings& s, const AttrModel& model, const CaseTable& cases,
                     const SampleStats& stats) {
  const VbContext ctx{s, model, cases, stats};
  const std::vector<int> ks = class_counts(s);
  std::vector<ClassCountFit> fits(ks.size());
  std::vector<double> scores(ks.size());

  VbState st;
  int k_opt = ks[0];
  if (s.k_range_given) {
    VbSavedState opt;  // hyperparameters of the best K so far
    double f_opt = 0.0;
    for (size_t i = 0; i < ks.size(); ++i) {
      const int K = ks[i];
      msg_printf("|Classes| = %d:\n", K);
      st = prepare_class_count(s, ctx, K);
      double f = fit_class_count(ctx, st, fits[i]);
      scores[i] = f;
      if (i == 0 || f > f_opt) {
        msg_printf("  Variational Free Energy = %.Nf (temporarily optimal)\n", f);
        k_opt = K;
        f_opt = f;
        save_hparams_opt(st, opt);
      } else {
        msg_printf("  Variational Free Energy = %.Nf\n", f);
      }
      free_vb_state(st);
    }
    msg_printf("Optimal |Classes| = %d\n", k_opt);
    st = allocate_vb_state(ctx, k_opt);
    restore_hparams_opt(opt, st);
    drop_saved_state(opt);
  } else {
    const int K = ks[0];
    msg_printf("|Classes| = %d:\n", K);
    st = prepare_class_count(s, ctx, K);
    scores[0] = fit_class_count(ctx, st, fits[0]);
    msg_printf("  Variational Free Energy = %.Nf\n", scores[0]);
  }

  print_score(log_stream(), ks, scores, k_opt);
  for (const ClassCountFit& fit : fits) {
    print_seeds(log_stream(), s.k_range_given, fit.K, fit.best_restart, fit.runs);
  }
  fits.clear();
  scores.clear();

  // The predictive distributions use the Tau and Alpha the file records.
  const VbPredictiveScalars scalars = retained_scalars(st);
  write_hparam_file(ctx, st);
  run_post_analysis(ctx, st, scalars);

  free_vb_state(st);
}

}  // namespace veska
