#include "mlmap/ml_init.h"

#include <cmath>

#include "common/misc.h"
#include "common/random.h"
#include "mlmap/em_steps.h"

namespace veska {

namespace {

// A random weight: a 31-bit draw, kept away from zero.
double random_weight() { return static_cast<double>(rng_u31()) + 32767.0; }

void normalise(double* w, int n) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += w[i];
  for (int i = 0; i < n; ++i) w[i] /= sum;
}

// The responsibility of an entry in a group it does not belong to: small
// enough to leave the groups' statistics as they are, large enough that a
// group without entries keeps finite moments.
constexpr double kPartitionFloor = 1.0e-30;
// A group's variance below this share of the sample variance: its values
// are all but equal, and the start would sit on a spike of the likelihood.
constexpr double kFlatRatio = 1.0e-9;

void set_sample_covariance(const MlContext& ctx, const MlLayout& l, MlParams& p, int k, int b) {
  const int d = l.dims[b];
  const Matrix& covar = *ctx.stats.groups[b].sample_covar;
  double* cov = p.covar.data() + l.covar(k, b);
  for (int i = 0; i < d; ++i) {
    for (int j = 0; j < d; ++j) cov[i * d + j] = covar[i][j];
  }
}

void set_sample_moments(const MlContext& ctx, const MlLayout& l, MlParams& p, int k, int b) {
  const Vector& mean = *ctx.stats.groups[b].sample_mean;
  double* mu = p.mean.data() + l.mean(k, b);
  for (int i = 0; i < l.dims[b]; ++i) mu[i] = mean[i];
  set_sample_covariance(ctx, l, p, k, b);
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
      set_sample_moments(ctx, l, p, k, b);
      for (int i = 0; i < d; ++i) {
        mu[i] += std::sqrt((*g.sample_covar)[i][i]) * s.noise_gauss * (rng_real() - 0.5);
      }
    }
  }
  recompute_precisions(l, p);
}

void initialise_params_from_partition(const MlContext& ctx, const MlLayout& l,
                                      const MlPriors& priors, const BlockScales& scales,
                                      std::span<const int> groups, MlWork& w, MlParams& p) {
  const int K = l.K;
  const int n_entries = ctx.cases.n_entries;
  if (groups.size() != static_cast<size_t>(n_entries)) {
    die("Internal error: a starting partition does not cover the cases\n");
  }
  for (int k = 0; k < K; ++k) p.pi[k] = 1.0 / K;
  for (int i = 0; i < l.n_discrete; ++i) {
    for (int k = 0; k < K; ++k) {
      for (int v = 0; v < l.n_values[i]; ++v) p.theta[l.cat(k, i, v)] = 1.0 / l.n_values[i];
    }
  }
  for (int k = 0; k < K; ++k) {
    for (int b = 0; b < l.n_groups; ++b) set_sample_moments(ctx, l, p, k, b);
  }
  recompute_precisions(l, p);

  for (int n = 0; n < n_entries; ++n) {
    for (int k = 0; k < K; ++k) {
      w.resp[static_cast<size_t>(n) * K + k] = groups[static_cast<size_t>(n)] == k ? 1.0 : kPartitionFloor;
    }
  }
  w.fresh_resp = MlWork::FreshResp::kNone;  // not the weights' own
  compute_expected_stats(ctx, l, p, w);
  m_step(ctx, l, priors, scales, w, p);
  // A one-dimensional block whose group has (almost) no spread, and every
  // block the singular check finds, take the sample covariance; a sample
  // covariance that is singular itself is left to the run's own check.
  for (int k = 0; k < K; ++k) {
    for (int b = 0; b < l.n_groups; ++b) {
      const double var = scales.variance[l.mean_offset[b]];
      if (l.dims[b] == 1 && p.covar[l.covar(k, b)] <= kFlatRatio * var) set_sample_covariance(ctx, l, p, k, b);
    }
  }
  recompute_precisions(l, p);
  for (int pass = 0; pass < K * l.n_groups; ++pass) {
    const SingularBlock s = find_singular_block(l, scales, p);
    if (!s.found) break;
    set_sample_covariance(ctx, l, p, s.k, s.b);
    recompute_precisions(l, p);
  }
}

}  // namespace veska
