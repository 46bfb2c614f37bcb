#include "vb/vb_init.h"

#include <cmath>

#include "common/matrix.h"
#include "common/misc.h"
#include "common/options.h"
#include "common/random.h"
#include "vb/print_vb.h"
#include "vb/vbem.h"

namespace veska {

namespace {

// A group whose sample statistics are undefined (a member never observed,
// or observed once) cannot give a prior.
[[noreturn]] void fail_not_finite(const char* function) {
  raise_numerical_error(function, "Sample means or covariances are not finite\n");
}

// Sigma0 = s * S, W0 = S^-1 / s, |Sigma0| = |S| s^D (S the sample
// covariance); one dimension without an inversion.
void sample_scaled_prior(const Matrix* sample_covar, double s, VbBlock& blk) {
  const int d = sample_covar->rows;
  if (has_non_finite(sample_covar)) fail_not_finite("set_gauss_priors");
  if (d == 1) {
    double var = s * (*sample_covar)[0][0];
    (*blk.sigma0)[0][0] = var;
    (*blk.w0)[0][0] = 1.0 / var;
    blk.det_sigma0 = var;
  } else {
    copy_matrix(blk.sigma0, sample_covar);
    const DetResult r = inverse_spd(blk.w0, blk.sigma0);
    if (!r.ok || has_non_finite(blk.w0)) {
      raise_numerical_error("set_gauss_priors", "Failed to invert the sample covariances\n");
    }
    scale_matrix(blk.sigma0, s);
    divide_matrix(blk.w0, s);
    blk.det_sigma0 = r.det * std::pow(s, d);
  }
  if (!(blk.det_sigma0 > 0.0) || !std::isfinite(blk.det_sigma0)) {
    raise_numerical_error("set_gauss_priors", "Failed to invert the sample covariances\n");
  }
}

// Sigma0 = s I, W0 = I / s, |Sigma0| = s^D.
void constant_prior(double s, VbBlock& blk) {
  const int d = blk.sigma0->rows;
  set_scaled_identity(blk.sigma0, s);
  set_scaled_identity(blk.w0, 1.0 / s);
  blk.det_sigma0 = d == 1 ? s : std::pow(s, d);
}

// The posteriors start at the priors: delta = delta0, mu = mu0, Sigma =
// Sigma0 with its precision.
void posteriors_at_priors(VbState& st) {
  st.delta = st.delta0;
  st.delta_cat = st.delta0_cat;
  for (VbBlock& blk : st.blocks) {
    copy_vector(blk.mu, blk.mu0);
    copy_matrix(blk.sigma, blk.sigma0);
  }
  if (st.n_groups > 0) compute_hparam_precisions(st);
}

}  // namespace

void set_gauss_priors(const VbContext& ctx, VbState& st) {
  const Settings& s = ctx.settings;
  for (int k = 0; k < st.K; ++k) {
    for (int b = 0; b < st.n_groups; ++b) {
      VbBlock& blk = st.block(k, b);
      const GroupStats& g = ctx.stats.groups[static_cast<size_t>(b)];
      const int d = st.dims[static_cast<size_t>(b)];
      for (int i = 0; i < d; ++i) (*blk.mu0)[i] = s.smooth_mean_given ? s.smooth_mean : (*g.sample_mean)[i];
      if (has_non_finite(blk.mu0)) fail_not_finite("set_gauss_priors");
      if (s.smooth_var_mode == kSmoothVarSample) {
        sample_scaled_prior(g.sample_covar, s.smooth_var, blk);
      } else if (s.smooth_var_mode == kSmoothVarConst) {
        constant_prior(s.smooth_var, blk);
      } else {
        die("Internal error: Illegal mode_smooth_s\n");
      }
    }
  }
}

void init_hparams_random(const VbContext& ctx, VbState& st) {
  const Settings& s = ctx.settings;
  const int K = st.K;

  // delta0_k = u noise / K + c0
  for (int k = 0; k < K; ++k) st.delta0[k] = rng_real() * s.noise / K + s.smooth_c;

  // delta0_kjv = u noise / |V_j| + a0_j, values from the last one down.
  for (int k = 0; k < K; ++k) {
    for (int j = 0; j < st.n_discrete; ++j) {
      const int nv = st.n_values[static_cast<size_t>(j)];
      const double a0 = s.smooth_a[static_cast<size_t>(j)].value;
      for (int v = nv - 1; v >= 0; --v) st.delta0_cat[st.cat_index(k, j, v)] = rng_real() * s.noise / nv + a0;
    }
  }

  // Only a negative --noise can push a pseudo count to zero or below, where
  // the Dirichlet prior has no meaning.
  bool proper = true;
  for (double d : st.delta0) proper = proper && d > 0.0;
  for (double d : st.delta0_cat) proper = proper && d > 0.0;
  if (!proper) die("Illegal value for %s option\n", option_label(kOptNoise).c_str());

  if (st.n_groups > 0) {
    set_gauss_priors(ctx, st);
    // mu0_kbd += (u - 0.5) sqrt(S_dd) noise_gauss, S the sample covariance
    // whatever the prior's mode; every class starts with N_k = N / K.
    for (int k = 0; k < K; ++k) {
      for (int b = 0; b < st.n_groups; ++b) {
        VbBlock& blk = st.block(k, b);
        const Matrix* covar = ctx.stats.groups[static_cast<size_t>(b)].sample_covar;
        for (int d = 0; d < st.dims[static_cast<size_t>(b)]; ++d) {
          (*blk.mu0)[d] += (rng_real() - 0.5) * std::sqrt((*covar)[d][d]) * s.noise_gauss;
        }
        if (has_non_finite(blk.mu0)) fail_not_finite("init_hparams_random");
      }
      st.n_k[k] = static_cast<double>(ctx.cases.n_cases) / K;
    }
  }

  posteriors_at_priors(st);
  if (s.verbose) print_hparams(log_stream(), ctx, st);
}

void init_hparams_from_partition(const VbContext& ctx, VbState& st, std::span<const int> groups) {
  const Settings& s = ctx.settings;
  const int K = st.K;
  if (groups.size() != static_cast<size_t>(st.n_entries)) {
    die("Internal error: a starting partition does not cover the cases\n");
  }
  for (int k = 0; k < K; ++k) st.delta0[k] = s.smooth_c;
  for (int k = 0; k < K; ++k) {
    for (int j = 0; j < st.n_discrete; ++j) {
      const double a0 = s.smooth_a[static_cast<size_t>(j)].value;
      for (int v = 0; v < st.n_values[static_cast<size_t>(j)]; ++v) st.delta0_cat[st.cat_index(k, j, v)] = a0;
    }
  }
  if (st.n_groups > 0) {
    set_gauss_priors(ctx, st);
    for (int k = 0; k < K; ++k) st.n_k[k] = static_cast<double>(ctx.cases.n_cases) / K;
  }
  // The statistics impute missing continuous values from the posteriors.
  posteriors_at_priors(st);

  for (int k = 0; k < K; ++k) {
    for (int n = 0; n < st.n_entries; ++n) {
      st.resp[st.entry_index(k, n)] = groups[static_cast<size_t>(n)] == k ? 1.0 : kMinResponsibility;
    }
  }
  st.fresh_resp = VbWork::FreshResp::kNone;
  st.beta = 1.0;
  compute_sufficient_stats(ctx, st);
  update_hparams(ctx, st);
}

}  // namespace veska
