#include "report/principal_axes.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace veska {

void symmetric_eigen(std::vector<std::vector<double>> a, std::vector<double>* values,
                     std::vector<std::vector<double>>* vectors) {
  size_t n = a.size();
  std::vector<std::vector<double>> v(n, std::vector<double>(n, 0.0));
  for (size_t i = 0; i < n; ++i) v[i][i] = 1.0;
  for (int sweep = 0; sweep < 100; ++sweep) {
    double off = 0.0;
    for (size_t p = 0; p < n; ++p)
      for (size_t q = p + 1; q < n; ++q) off += a[p][q] * a[p][q];
    if (off < 1e-30) break;
    for (size_t p = 0; p < n; ++p) {
      for (size_t q = p + 1; q < n; ++q) {
        if (a[p][q] == 0.0) continue;
        double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
        double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (size_t k = 0; k < n; ++k) {  // columns p, q
          double akp = a[k][p], akq = a[k][q];
          a[k][p] = c * akp - s * akq;
          a[k][q] = s * akp + c * akq;
        }
        for (size_t k = 0; k < n; ++k) {  // rows p, q
          double apk = a[p][k], aqk = a[q][k];
          a[p][k] = c * apk - s * aqk;
          a[q][k] = s * apk + c * aqk;
        }
        for (size_t k = 0; k < n; ++k) {
          double vkp = v[k][p], vkq = v[k][q];
          v[k][p] = c * vkp - s * vkq;
          v[k][q] = s * vkp + c * vkq;
        }
      }
    }
  }
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) { return a[x][x] > a[y][y]; });
  values->assign(n, 0.0);
  vectors->assign(n, std::vector<double>(n, 0.0));
  for (size_t c = 0; c < n; ++c) {
    (*values)[c] = a[order[c]][order[c]];
    for (size_t r = 0; r < n; ++r) (*vectors)[r][c] = v[r][order[c]];
  }
}

PrincipalAxes principal_axes(const std::vector<std::vector<double>>& points) {
  size_t D = points[0].size();
  double n = static_cast<double>(points.size());
  PrincipalAxes axes;
  axes.mean.assign(D, 0.0);
  for (const auto& p : points)
    for (size_t d = 0; d < D; ++d) axes.mean[d] += p[d] / n;
  std::vector<std::vector<double>> cov(D, std::vector<double>(D, 0.0));
  for (const auto& p : points)
    for (size_t a = 0; a < D; ++a)
      for (size_t b = 0; b < D; ++b) cov[a][b] += (p[a] - axes.mean[a]) * (p[b] - axes.mean[b]) / n;
  std::vector<double> values;
  std::vector<std::vector<double>> vectors;
  symmetric_eigen(cov, &values, &vectors);
  // One sign per axis, so the picture does not flip with rounding.
  auto column = [&](size_t c) {
    std::vector<double> axis(D);
    size_t big = 0;
    for (size_t r = 0; r < D; ++r) {
      axis[r] = vectors[r][c];
      if (std::fabs(axis[r]) > std::fabs(axis[big])) big = r;
    }
    if (axis[big] < 0)
      for (double& x : axis) x = -x;
    return axis;
  };
  axes.axis1 = column(0);
  axes.axis2 = column(1);
  axes.variance1 = std::max(values[0], 0.0);
  axes.variance2 = std::max(values[1], 0.0);
  for (size_t d = 0; d < D; ++d) axes.total_variance += cov[d][d];
  return axes;
}

}  // namespace veska
