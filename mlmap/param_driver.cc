#include "mlmap/param_driver.h"

#include <algorithm>
#include <cmath>

#include "common/misc.h"
#include "data/read_freq.h"
#include "data/read_param.h"
#include "data/stat.h"
#include "mlmap/ml_fit_engine.h"
#include "output/print_data.h"
#include "output/print_hparam_read.h"

namespace veska {

namespace {

// The file's values in the engine's layout, with fresh inverses; a
// covariance without a usable inverse ends the run.
MlParams params_of(const StoredParams& f, const MlLayout& l) {
  MlParams p = allocate_params(l);
  p.pi = f.pi;
  for (int i = 0; i < l.n_discrete; ++i) {
    const int nv = l.n_values[i];
    for (int k = 0; k < l.K; ++k) {
      for (int v = 0; v < nv; ++v) {
        p.theta[l.cat(k, i, v)] = f.theta[static_cast<size_t>(i)][static_cast<size_t>(k) * nv + v];
      }
    }
  }
  for (int k = 0; k < l.K; ++k) {
    for (int b = 0; b < l.n_groups; ++b) {
      const size_t kb = static_cast<size_t>(k) * f.n_groups + b;
      std::copy(f.mean[kb].begin(), f.mean[kb].end(), p.mean.begin() + static_cast<long>(l.mean(k, b)));
      std::copy(f.covar[kb].begin(), f.covar[kb].end(), p.covar.begin() + static_cast<long>(l.covar(k, b)));
    }
  }
  recompute_precisions(l, p);
  for (const double det : p.det) {
    if (!(det > 0.0) || !std::isfinite(det)) die("Failed to invert covariances\n");
  }
  return p;
}

}  // namespace

void run_param_driver(Settings& s, AttrModel& model) {
  const StoredParams file = read_param(s, model);
  if (s.verbose) print_attribute_values(log_stream(), model);
  s.n_class = file.K;
  s.k_range_given = false;
  CaseTable cases = read_cases(s, model);
  SampleStats stats = compute_statistics(s, model, cases);
  {
    MlFitEngine engine(s, model, cases, stats);
    engine.resolve_early(file.K);
    print_data_size(log_stream(), s, model, cases, {file.K});
    engine.engine().set_params(params_of(file, engine.engine().layout()));
    engine.announce_memberships();
    engine.run_post_analysis();
  }
  free_statistics(stats);
}

}  // namespace veska
