#include "fit/missing_patterns.h"

#include <cmath>

#include "common/matrix.h"

namespace veska {

PatternTables::PatternTables(const EntryViews& views, int K) : K_(K) {
  size_t at = 0;
  for (int b = 0; b < views.n_groups; ++b) {
    first_.push_back(offset_.size());
    for (const BlockPattern& p : views.block_patterns[static_cast<size_t>(b)]) {
      const size_t o = p.observed.size(), m = p.missing.size();
      offset_.push_back(at);
      size_.push_back(o * o + m * o + m * m + 1);
      at += size_.back() * static_cast<size_t>(K);
    }
  }
  values_.assign(at, 0.0);
}

PatternView PatternTables::view(const EntryViews& views, int b, int p, int k) const {
  const BlockPattern& pattern = views.block_patterns[static_cast<size_t>(b)][static_cast<size_t>(p)];
  const size_t i = first_[static_cast<size_t>(b)] + static_cast<size_t>(p);
  const double* v = values_.data() + offset_[i] + size_[i] * static_cast<size_t>(k);
  const size_t o = pattern.observed.size(), m = pattern.missing.size();
  return PatternView{&pattern, v, v + o * o, v + o * o + m * o, v[o * o + m * o + m * m]};
}

bool PatternTables::fill(const EntryViews& views, int b, int p, int k, const double* sigma,
                         int d) {
  const BlockPattern& pattern = views.block_patterns[static_cast<size_t>(b)][static_cast<size_t>(p)];
  const size_t i = first_[static_cast<size_t>(b)] + static_cast<size_t>(p);
  double* v = values_.data() + offset_[i] + size_[i] * static_cast<size_t>(k);
  const std::vector<int>& obs = pattern.observed;
  const std::vector<int>& mis = pattern.missing;
  const int o = static_cast<int>(obs.size()), m = static_cast<int>(mis.size());
  double* inv = v;
  double* reg = v + o * o;
  double* cond = reg + m * o;
  double& ln_det = cond[m * m];
  ln_det = 0.0;
  if (o > 0) {
    for (int r = 0; r < o; ++r) {
      for (int c = 0; c < o; ++c) inv[r * o + c] = sigma[obs[r] * d + obs[c]];
    }
    Matrix a{o, o, inv, 0};
    const DetResult det = inverse_spd(&a, &a);
    if (!det.ok || !(det.det > 0.0) || !std::isfinite(det.det)) return false;
    ln_det = std::log(det.det);
  }
  for (int a = 0; a < m; ++a) {
    const double* row = sigma + mis[a] * d;
    for (int c = 0; c < o; ++c) {
      double s = 0.0;
      for (int r = 0; r < o; ++r) s += row[obs[r]] * inv[r * o + c];
      reg[a * o + c] = s;
    }
  }
  for (int a = 0; a < m; ++a) {
    for (int c = 0; c < m; ++c) {
      double s = sigma[mis[a] * d + mis[c]];
      for (int r = 0; r < o; ++r) s -= reg[a * o + r] * sigma[obs[r] * d + mis[c]];
      cond[a * m + c] = s;
    }
  }
  return true;
}

bool PatternTables::fill_block(const EntryViews& views, int b, int k, const double* sigma, int d) {
  const int n = static_cast<int>(views.block_patterns[static_cast<size_t>(b)].size());
  for (int p = 0; p < n; ++p) {
    if (!fill(views, b, p, k, sigma, d)) return false;
  }
  return true;
}

namespace {

// x_o - mu_o into diff.
void observed_difference(const PatternView& pv, const double* x, const double* mu, double* diff) {
  const std::vector<int>& obs = pv.pattern->observed;
  for (size_t r = 0; r < obs.size(); ++r) diff[r] = x[obs[r]] - mu[obs[r]];
}

}  // namespace

double observed_quadratic(const PatternView& pv, const double* x, const double* mu, double* work) {
  const int o = pv.o();
  double* diff = work;
  observed_difference(pv, x, mu, diff);
  // The diagonal, then twice the upper triangle: the sums of the plain
  // quadratic form, so the bits do not depend on the pattern route.
  double diagonal = 0.0, off = 0.0;
  for (int r = 0; r < o; ++r) {
    const double* row = pv.inv_oo + r * o;
    diagonal += row[r] * diff[r] * diff[r];
    double s = 0.0;
    for (int c = r + 1; c < o; ++c) s += row[c] * diff[c];
    off += diff[r] * s;
  }
  return diagonal + 2.0 * off;
}

namespace {

// add_imputed_moments with the block dimension fixed at compile time when
// kDim > 0 (the small blocks, whose loops the compiler then unrolls).
template <int kDim>
void imputed_moments(const PatternView& pv, const double* x, const double* mu,
                     const double* centre, double w, double cond_scale, int d, double* s1,
                     double* s2, double* work) {
  if constexpr (kDim > 0) d = kDim;
  const int* obs = pv.pattern->observed.data();
  const int* mis = pv.pattern->missing.data();
  const int o = pv.o(), m = pv.m();
  double* diff = work;
  double* z = work + d;
  for (int r = 0; r < o; ++r) diff[r] = x[obs[r]] - mu[obs[r]];
  // Less the centre before the regression is added, so that a large
  // common offset costs no digits of the conditional mean.
  for (int r = 0; r < o; ++r) z[obs[r]] = centre ? x[obs[r]] - centre[obs[r]] : x[obs[r]];
  for (int a = 0; a < m; ++a) {
    const double* row = pv.regression + a * o;
    double s = centre ? mu[mis[a]] - centre[mis[a]] : mu[mis[a]];
    for (int c = 0; c < o; ++c) s += row[c] * diff[c];
    z[mis[a]] = s;
  }
  for (int i = 0; i < d; ++i) {
    const double wz = w * z[i];
    s1[i] += wz;
    double* row = s2 + static_cast<size_t>(i) * d;
    for (int j = i; j < d; ++j) row[j] += wz * z[j];
  }
  const double wc = w * cond_scale;
  for (int a = 0; a < m; ++a) {
    double* row = s2 + static_cast<size_t>(mis[a]) * d;
    for (int c = a; c < m; ++c) row[mis[c]] += wc * pv.cond[a * m + c];
  }
}

}  // namespace

void add_imputed_moments(const PatternView& pv, const double* x, const double* mu,
                         const double* centre, double w, double cond_scale, int d, double* s1,
                         double* s2, double* work) {
  switch (d) {
    case 2: imputed_moments<2>(pv, x, mu, centre, w, cond_scale, d, s1, s2, work); break;
    case 3: imputed_moments<3>(pv, x, mu, centre, w, cond_scale, d, s1, s2, work); break;
    case 4: imputed_moments<4>(pv, x, mu, centre, w, cond_scale, d, s1, s2, work); break;
    case 5: imputed_moments<5>(pv, x, mu, centre, w, cond_scale, d, s1, s2, work); break;
    case 6: imputed_moments<6>(pv, x, mu, centre, w, cond_scale, d, s1, s2, work); break;
    default: imputed_moments<0>(pv, x, mu, centre, w, cond_scale, d, s1, s2, work); break;
  }
}

}  // namespace veska
