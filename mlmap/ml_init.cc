#include "mlmap/ml_init.h"

#include <cmath>

#include "common/misc.h"
#include "common/random.h"

namespace veska {

namespace {

// A random weight: a 31-bit draw, kept away from zero.
double random_weight() { return static_cast<double>(rng_u31()) + 32767.0; }

void normalise(double* w, int n) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += w[i];
  for (int i = 0; i < n; ++i) w[i] /= sum;
}

}  // namespace

void initialise_params(const MlContext& ctx, const MlLayout& l, MlParams& p) {
  const Settings& s = ctx.settings;
  const int K = l.K;
  for (int k = 0; k < K; ++k) {
    if (s.init_c == kInitRandom) {
      p.pi[k] = random_weight();
    } else {
      p.pi[k] = (1.0 / K) * (1.0 + s.noise * rng_real());
    }
  }
  normalise(p.pi.data(), K);

  for (int i = 0; i < l.n_discrete; ++i) {
    const int nv = l.n_values[i];
    const std::vector<double>& freq = ctx.model.values[i].freq;
    for (int k = 0; k < K; ++k) {
      double* w = p.theta.data() + l.cat(k, i, 0);
      for (int v = 0; v < nv; ++v) {
        if (s.init_a == kInitRandom) {
          w[v] = random_weight();
        } else if (s.init_a == kInitNoisyUniform) {
          w[v] = (1.0 / nv) * (1.0 + s.noise * rng_real());
        } else if (s.init_a == kInitValueFrequency) {
          // A value never seen counts as seen once: the rarest weight
          // without a division by zero.
          const double n_iv = static_cast<size_t>(v) < freq.size() && freq[v] > 0.0 ? freq[v] : 1.0;
          w[v] = s.noise * rng_real() / nv + 1.0 / n_iv;
        } else {
          die("Internal error: unexpected initialization method for discrete attribute values\n");
        }
      }
      normalise(w, nv);
    }
  }

  for (int k = 0; k < K; ++k) {
    for (int b = 0; b < l.n_groups; ++b) {
      const int d = l.dims[b];
      const GroupStats& g = ctx.stats.groups[b];
      double* mu = p.mean.data() + l.mean(k, b);
      double* cov = p.covar.data() + l.covar(k, b);
      for (int i = 0; i < d; ++i) {
        mu[i] = (*g.sample_mean)[i];
        for (int j = 0; j < d; ++j) cov[i * d + j] = (*g.sample_covar)[i][j];
      }
      for (int i = 0; i < d; ++i) {
        mu[i] += std::sqrt((*g.sample_covar)[i][i]) * s.noise_gauss * (rng_real() - 0.5);
      }
    }
  }
  recompute_precisions(l, p);
}

}  // namespace veska
