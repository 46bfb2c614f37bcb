#include "mlmap/ml_priors.h"

#include <cmath>
#include <cstdio>

#include "common/matrix.h"
#include "common/misc.h"

namespace veska {

namespace {

MlPriors sized_priors(const MlLayout& l) {
  MlPriors p;
  p.delta.assign(static_cast<size_t>(l.K), 1.0);
  p.delta_cat.assign(static_cast<size_t>(l.K) * l.cat_stride, 1.0);
  p.tau.assign(static_cast<size_t>(l.K), 0.0);
  p.alpha.assign(static_cast<size_t>(l.K) * l.n_groups, 0.0);
  p.m0.assign(static_cast<size_t>(l.K) * l.mean_stride, 0.0);
  p.b0.assign(static_cast<size_t>(l.K) * l.covar_stride, 0.0);
  p.b0_inverse.assign(p.b0.size(), 0.0);
  p.b0_det.assign(static_cast<size_t>(l.K) * l.n_groups, 1.0);
  return p;
}

// B0^-1 and |B0| of one block; a scale that cannot be inverted is fatal.
double invert_scale(int d, const double* b0, double* inverse) {
  if (d == 1) {
    inverse[0] = 1.0 / b0[0];
    return b0[0];
  }
  Matrix a{d, d, const_cast<double*>(b0), 0};
  Matrix inv{d, d, inverse, 0};
  const DetResult r = inverse_spd(&inv, &a);
  const double det = r.det;
  if (!r.ok || !(det > 0.0) || has_non_finite(&inv)) {
    raise_numerical_error("set_gauss_priors", "Failed to invert the sample covariances\n");
  }
  return det;
}

}  // namespace

MlPriors set_up_priors(const MlContext& ctx, const MlLayout& l) {
  const Settings& s = ctx.settings;
  MlPriors p = sized_priors(l);
  p.smooth_c = s.smooth_c;
  for (int i = 0; i < l.n_discrete; ++i) p.smooth_a.push_back(s.smooth_a[i].value);
  p.gauss_prior = l.n_groups > 0 && s.gauss_prior_used;
  for (int k = 0; k < l.K; ++k) {
    p.delta[k] = s.smooth_c + 1.0;
    p.tau[k] = s.tau;
    for (int i = 0; i < l.n_discrete; ++i) {
      for (int v = 0; v < l.n_values[i]; ++v) p.delta_cat[l.cat(k, i, v)] = p.smooth_a[i] + 1.0;
    }
  }
  if (!p.gauss_prior) return p;
  for (int b = 0; b < l.n_groups; ++b) {
    const int d = l.dims[b];
    const GroupStats& g = ctx.stats.groups[b];
    std::vector<double> scale(static_cast<size_t>(d) * d), inverse(scale.size());
    double det;
    if (s.smooth_var_mode == kSmoothVarSample) {
      // B0 = s S, B0^-1 = S^-1 / s, |B0| = |S| s^D.
      for (int i = 0; i < d; ++i) {
        for (int j = 0; j < d; ++j) scale[i * d + j] = (*g.sample_covar)[i][j];
      }
      det = invert_scale(d, scale.data(), inverse.data()) * std::pow(s.smooth_var, d);
      for (double& x : scale) x *= s.smooth_var;
      for (double& x : inverse) x /= s.smooth_var;
    } else if (s.smooth_var_mode == kSmoothVarConst) {
      for (int i = 0; i < d; ++i) {
        scale[i * d + i] = s.smooth_var;
        inverse[i * d + i] = 1.0 / s.smooth_var;
      }
      det = std::pow(s.smooth_var, d);
    } else {
      die("Internal error: Illegal mode_smooth_s\n");
    }
    for (int k = 0; k < l.K; ++k) {
      p.alpha[l.block(k, b)] = s.alpha > 0.0 ? s.alpha : d + 1e-6;
      p.b0_det[l.block(k, b)] = det;
      for (int i = 0; i < d; ++i) {
        p.m0[l.mean(k, b) + i] = s.smooth_mean_given ? s.smooth_mean : (*g.sample_mean)[i];
      }
      std::copy(scale.begin(), scale.end(), p.b0.begin() + l.covar(k, b));
      std::copy(inverse.begin(), inverse.end(), p.b0_inverse.begin() + l.covar(k, b));
    }
  }
  return p;
}

MlPriors apply_hparams(Settings& s, const AttrModel& model, const MlLayout& l,
                       const StoredHparams& f) {
  MlPriors p = sized_priors(l);
  p.from_file = true;
  const char* file = s.files.hparam.c_str();
  bool any = false, all = true;
  auto note = [&](double delta) {
    any = any || delta > 1.0;
    all = all && delta > 1.0;
  };
  for (int k = 0; k < l.K; ++k) {
    p.delta[k] = f.delta[k];
    note(p.delta[k]);
    for (int i = 0; i < l.n_discrete; ++i) {
      for (int v = 0; v < l.n_values[i]; ++v) {
        p.delta_cat[l.cat(k, i, v)] = f.delta_cat[i][static_cast<size_t>(k) * l.n_values[i] + v];
        note(p.delta_cat[l.cat(k, i, v)]);
      }
    }
  }
  if (l.n_groups > 0) {
    for (int k = 0; k < l.K; ++k) {
      p.tau[k] = f.tau[k];
      if (!(p.tau[k] > 0.0)) {
        die("Illegal tau (%.*f,class=%d) read from %s\n", s.prec_msg, p.tau[k], k, file);
      }
    }
    for (int k = 0; k < l.K; ++k) {
      for (int b = 0; b < l.n_groups; ++b) {
        const int d = l.dims[b];
        const size_t fb = f.block_index(k, b);
        p.alpha[l.block(k, b)] = f.alpha[fb];
        if (d > f.alpha[fb]) {
          std::fprintf(stderr, "Illegal alpha (%.*f, class=%d, dist=%d) read from %s\n", s.prec_msg,
                       f.alpha[fb], k, b, file);
        }
        std::copy(f.mean[fb].begin(), f.mean[fb].end(), p.m0.begin() + l.mean(k, b));
        std::copy(f.covar[fb].begin(), f.covar[fb].end(), p.b0.begin() + l.covar(k, b));
        p.b0_det[l.block(k, b)] =
            invert_scale(d, p.b0.data() + l.covar(k, b), p.b0_inverse.data() + l.covar(k, b));
      }
    }
    any = true;
    p.gauss_prior = true;
  }
  (void)model;
  s.any_smoothing = any;
  s.all_smoothing = all;
  if (!all) die("Pseudo counts read from %s should be all positive\n", file);
  return p;
}

}  // namespace veska
