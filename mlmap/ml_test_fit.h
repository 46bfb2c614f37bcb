// For the engine's tests: one class count's model, priors and work arrays
// over a data set of tests/support/case_data.h, with the evaluate and update
// halves of an EM iteration.
#pragma once

#include <memory>

#include "mlmap/em_steps.h"
#include "mlmap/ml_init.h"
#include "mlmap/ml_params.h"
#include "mlmap/ml_priors.h"
#include "mlmap/ml_scores.h"
#include "tests/support/case_data.h"

namespace veska::testing {

// The settings of rumel with no smoothing at all (plain ML).
inline void ml_settings(Settings& s) {
  s.program = Program::kMlMap;
  s.smooth_c = 0.0;
  s.tau = 0.0;
  s.gauss_prior_used = false;
}

// Every smoothing constant and tau set: MAP with every prior proper.
inline void map_settings(Settings& s) {
  s.program = Program::kMlMap;
  s.smooth_c = 0.5;
  s.tau = 0.3;
  s.gauss_prior_used = true;
}

struct MlFit {
  MlFit(CaseData& data, int K)
      : views(build_entry_views(data.cases, data.model)),
        ctx{data.settings, data.model, data.cases, data.stats},
        layout(make_layout(data.model, K)),
        params(allocate_params(layout)),
        priors(set_up_priors(ctx, layout)),
        scales(block_scales(ctx, layout)),
        work(allocate_work(layout, views)) {}

  bool map() const {
    return priors.smooth_c > 0.0 || priors.gauss_prior || priors.from_file ||
           std::any_of(priors.smooth_a.begin(), priors.smooth_a.end(), [](double a) { return a > 0; });
  }
  // E-step at work.beta and the objective L / beta (+ LP with a prior).
  double evaluate() {
    double o = check_loglike(compute_e_step(ctx, layout, params, work)) / work.beta;
    if (map()) o += compute_log_prior(layout, priors, params);
    return o;
  }
  void update() {
    responsibilities_for_update(layout, work);
    compute_expected_stats(ctx, layout, params, work);
    m_step(ctx, layout, priors, scales, work, params);
  }

  EntryViews views;
  MlContext ctx;
  MlLayout layout;
  MlParams params;
  MlPriors priors;
  BlockScales scales;
  MlWork work;
};

}  // namespace veska::testing
