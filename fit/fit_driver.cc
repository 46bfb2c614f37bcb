#include "fit/fit_driver.h"

#include "common/misc.h"
#include "common/random.h"
#include "fit/run_loop.h"
#include "fit/split_merge.h"
#include "output/print_data.h"

namespace veska {

void reseed_restart(const Settings& s, RestartRecord& run) {
  if (s.seed_given) return;
  // Each restart gets its own recorded seed, so any one of them can be rerun
  // alone with --seed.
  run.seeded = true;
  run.seed = static_cast<uint32_t>(rng_u31());
  rng_seed(run.seed);
}

int restart_limit(const Settings& s) {
  const int full = full_limit(s);
  if (s.restarts < 2) return full;
  const int l = s.max_iter_restart;
  return (l < 1 || l >= full) ? full : l;
}

void start_restart(FitEngine& engine) {
  const std::vector<int> groups = engine.start_groups();
  if (groups.empty()) {
    engine.random_start();
  } else {
    engine.partition_start(groups);
  }
}

RunEnd run_restart_loop(const Settings& s, FitEngine& engine, ClassCountFit& fit,
                        FitHistory& history, int limit, bool smem) {
  FitHistory best_history;
  RunEnd best{0, 1.0};
  fit.runs.assign(static_cast<size_t>(s.restarts), RestartRecord{});
  for (int r = 0; r < s.restarts; ++r) {
    RestartRecord& run = fit.runs[static_cast<size_t>(r)];
    reseed_restart(s, run);
    // The split-and-merge phase numbers every restart, before its first
    // evaluation (or, by the engine's rule, before its start).
    const bool label_first = smem && engine.rules().smem_label_before_start;
    if (label_first) msg_printf("  [%d] #iters ", r);
    start_restart(engine);
    const RunPlace place = smem ? RunPlace{&history, "SplitMergeOperation", 0, true}
                                : RunPlace{&history, "Restart", r};
    if (smem && !label_first) msg_printf("  [%d] #iters ", r);
    const double beta = start_beta(s, s.beta_init);
    evaluate_start(s, engine, place, 0, beta);
    if (!smem) msg_printf(s.restarts > 1 ? "  [%d] #iters " : "  #iters ", r);
    const RunEnd end = run_stages(s, engine, place, 0, limit, beta);
    run.updates = end.t;
    run.objective = history.at(end.t);
    // Ties keep the earlier restart.
    if (r == 0 || run.objective > fit.runs[static_cast<size_t>(fit.best_restart)].objective) {
      fit.best_restart = r;
      best = end;
      engine.save(FitSlot::kBestRestart);
      best_history = history;
    }
  }
  engine.restore(FitSlot::kBestRestart);
  engine.drop(FitSlot::kBestRestart);
  history = std::move(best_history);
  return best;
}

void run_restarts(const Settings& s, FitEngine& engine, ClassCountFit& fit) {
  FitHistory history;
  const RunEnd best = run_restart_loop(s, engine, fit, history, restart_limit(s), false);
  int t = best.t;
  if (s.restarts > 1) {
    msg_printf(engine.texts().resume_format, fit.best_restart);
    const RunPlace place{&history, "Restart", fit.best_restart};
    const double beta = start_beta(s, best.beta);
    evaluate_start(s, engine, place, best.t, beta);
    msg_printf("  [%d] #iters ", fit.best_restart);
    t = run_stages(s, engine, place, best.t, full_limit(s), beta).t;
  }
  engine.write_history(history, t);
}

bool uses_split_merge(const Settings& s, const FitRules& rules, int K) {
  const int min_k = s.k_range_given ? rules.smem_min_classes_range : rules.smem_min_classes_single;
  return s.n_sm >= 1 && K >= min_k;
}

double fit_class_count(const Settings& s, FitEngine& engine, ClassCountFit& fit) {
  fit.K = engine.classes();
  if (uses_split_merge(s, engine.rules(), fit.K)) {
    run_split_merge(s, engine, fit);  // performs the restarts itself
  } else {
    run_restarts(s, engine, fit);
  }
  fit.score = engine.score();
  return fit.score;
}

ClassRangeFit run_class_range(const Settings& s, FitEngine& engine) {
  ClassRangeFit range;
  range.ks = class_counts(s);
  range.fits.resize(range.ks.size());
  range.scores.resize(range.ks.size());
  const char* name = engine.texts().score_name;
  range.k_opt = range.ks[0];
  if (s.k_range_given) {
    double best = 0.0;
    for (size_t i = 0; i < range.ks.size(); ++i) {
      const int K = range.ks[i];
      msg_printf("|Classes| = %d:\n", K);
      engine.prepare(K);
      const double score = fit_class_count(s, engine, range.fits[i]);
      range.scores[i] = score;
      if (i == 0 || score > best) {
        msg_printf("  %s = %.Nf (temporarily optimal)\n", name, score);
        range.k_opt = K;
        best = score;
        engine.save(FitSlot::kOptimalK);
      } else {
        msg_printf("  %s = %.Nf\n", name, score);
      }
      engine.release();
    }
    msg_printf("Optimal |Classes| = %d\n", range.k_opt);
    engine.restore(FitSlot::kOptimalK);
    engine.drop(FitSlot::kOptimalK);
  } else {
    msg_printf(engine.texts().single_k_header, range.ks[0]);
    engine.prepare(range.ks[0]);
    range.scores[0] = fit_class_count(s, engine, range.fits[0]);
    msg_printf("  %s = %.Nf\n", name, range.scores[0]);
  }
  return range;
}

void run_fit(const Settings& s, FitEngine& engine) {
  {
    const ClassRangeFit range = run_class_range(s, engine);
    engine.write_range(range);
  }
  engine.write_model();
  engine.run_post_analysis();
  engine.release();
}

}  // namespace veska
