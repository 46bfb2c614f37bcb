#include "fit/missing_patterns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/matrix_store.h"

namespace veska {
namespace {

using LMatrix = std::vector<std::vector<long double>>;

// Inverse and log determinant by Gauss-Jordan elimination with partial
// pivoting in long double: an oracle independent of the engines' Cholesky.
LMatrix invert(LMatrix a, long double* ln_det) {
  const size_t n = a.size();
  LMatrix inv(n, std::vector<long double>(n, 0.0L));
  for (size_t i = 0; i < n; ++i) inv[i][i] = 1.0L;
  *ln_det = 0.0L;
  for (size_t c = 0; c < n; ++c) {
    size_t pivot = c;
    for (size_t r = c + 1; r < n; ++r) {
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    }
    std::swap(a[c], a[pivot]);
    std::swap(inv[c], inv[pivot]);
    const long double p = a[c][c];
    *ln_det += std::log(std::fabs(p));
    for (size_t j = 0; j < n; ++j) {
      a[c][j] /= p;
      inv[c][j] /= p;
    }
    for (size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      const long double f = a[r][c];
      for (size_t j = 0; j < n; ++j) {
        a[r][j] -= f * a[c][j];
        inv[r][j] -= f * inv[c][j];
      }
    }
  }
  return inv;
}

LMatrix sub(const LMatrix& a, const std::vector<int>& rows, const std::vector<int>& cols) {
  LMatrix s(rows.size(), std::vector<long double>(cols.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    for (size_t j = 0; j < cols.size(); ++j) s[i][j] = a[rows[i]][cols[j]];
  }
  return s;
}

// Every pattern of a correlated 5-D block against the conditional Gaussian
// read off the full precision Lambda = Sigma^-1: C = Lambda_qq^-1,
// R = -C Lambda_qo, and ln |Sigma_oo| = ln |Sigma| - ln |C|; then one
// entry's quadratic form and its centred completed moments.
TEST(PatternTables, MatchTheConditionalGaussianOfTheFullPrecision) {
  store_init();
  constexpr int d = 5;
  std::vector<double> sigma(d * d);
  LMatrix s(d, std::vector<long double>(d));
  for (int i = 0; i < d; ++i) {
    for (int j = 0; j < d; ++j) {
      sigma[i * d + j] = (i == j ? 2.0 + i : 0.0) + 0.7 * std::cos(i + j) + 0.3;
      s[i][j] = sigma[i * d + j];
    }
  }
  long double ln_det = 0.0L;
  const LMatrix lambda = invert(s, &ln_det);
  EntryViews views;
  views.n_groups = 1;
  views.block_patterns.resize(1);
  for (int mask = 0; mask < (1 << d) - 1; ++mask) {  // all but the fully observed
    BlockPattern p;
    for (int i = 0; i < d; ++i) ((mask >> i) & 1 ? p.observed : p.missing).push_back(i);
    views.block_patterns[0].push_back(p);
  }
  const int K = 2;
  PatternTables tables(views, K);
  const double x[d] = {1.5, -0.25, 3.0, 0.75, -2.0};
  const double mu[d] = {1.0, 0.5, 2.0, -0.5, -1.0};
  const double centre[d] = {1.25, 0.0, 2.5, 0.25, -1.5};
  std::vector<double> work(pattern_work_size(d));
  for (int p = 0; p < static_cast<int>(views.block_patterns[0].size()); ++p) {
    ASSERT_TRUE(tables.fill(views, 0, p, 1, sigma.data(), d));
    const PatternView pv = tables.view(views, 0, p, 1);
    const std::vector<int>& o = pv.pattern->observed;
    const std::vector<int>& q = pv.pattern->missing;
    long double ln_det_lqq = 0.0L;  // ln |Lambda_qq| = -ln |C|
    const LMatrix c = invert(sub(lambda, q, q), &ln_det_lqq);
    const LMatrix lqo = sub(lambda, q, o);
    std::vector<long double> zc(d);  // the completed point less the centre
    for (size_t r = 0; r < o.size(); ++r) zc[o[r]] = x[o[r]] - centre[o[r]];
    for (size_t a = 0; a < q.size(); ++a) {
      long double shift = 0.0L;
      for (size_t r = 0; r < o.size(); ++r) {
        long double reg = 0.0L;
        for (size_t b = 0; b < q.size(); ++b) reg -= c[a][b] * lqo[b][r];
        EXPECT_NEAR(pv.regression[a * o.size() + r], static_cast<double>(reg), 1e-13);
        shift += reg * (x[o[r]] - mu[o[r]]);
      }
      zc[q[a]] = mu[q[a]] - centre[q[a]] + shift;
      for (size_t b = 0; b < q.size(); ++b) {
        EXPECT_NEAR(pv.cond[a * q.size() + b], static_cast<double>(c[a][b]), 1e-13);
      }
    }
    EXPECT_NEAR(pv.ln_det_oo, static_cast<double>(ln_det + ln_det_lqq), 1e-13);
    if (!o.empty()) {
      long double ln_det_oo = 0.0L;
      const LMatrix inv_oo = invert(sub(s, o, o), &ln_det_oo);
      long double want = 0.0L;
      for (size_t r = 0; r < o.size(); ++r) {
        for (size_t t = 0; t < o.size(); ++t) {
          want += (x[o[r]] - mu[o[r]]) * inv_oo[r][t] * (x[o[t]] - mu[o[t]]);
        }
      }
      EXPECT_NEAR(observed_quadratic(pv, x, mu, work.data()), static_cast<double>(want), 1e-12);
    }
    const double w = 0.5, scale = 0.25;
    std::vector<double> s1(d, 1.0), s2(d * d, 1.0);  // added to, not overwritten
    add_imputed_moments(pv, x, mu, centre, w, scale, d, s1.data(), s2.data(), work.data());
    for (int i = 0; i < d; ++i) {
      EXPECT_NEAR(s1[i], static_cast<double>(1.0L + w * zc[i]), 1e-13);
      for (int j = 0; j < d; ++j) {
        long double want = 1.0L;
        if (i <= j) {
          want += w * zc[i] * zc[j];
          for (size_t a = 0; a < q.size(); ++a) {
            for (size_t b = 0; b < q.size(); ++b) {
              if (q[a] == i && q[b] == j) want += w * scale * c[a][b];
            }
          }
        }
        EXPECT_NEAR(s2[i * d + j], static_cast<double>(want), 1e-12) << i << "," << j;
      }
    }
  }
  // A covariance that is not positive definite fails on the patterns that
  // see it.
  std::vector<double> flat(d * d, 1.0);
  EXPECT_FALSE(tables.fill(views, 0, (1 << d) - 2, 0, flat.data(), d));
  store_shutdown();
}

}  // namespace
}  // namespace veska
