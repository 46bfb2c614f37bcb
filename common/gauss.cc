#include "common/gauss.h"

#include <cmath>
#include <numbers>

#include "common/matrix.h"
#include "common/misc.h"

namespace veska {

namespace {

constexpr double kLn2Pi = 1.8378770664093453;  // ln(2 pi)

ModelDump g_model_dump = nullptr;

void require_point(const Vector* x, const Vector* mu, const Matrix* cov, const char* function) {
  int d = x->n;
  if (d < 1 || mu->n != d || cov->rows != d || cov->cols != d) die_bad_dimension(function);
}

// The entries of a partly observed point whose flag (mask nonzero: observed)
// equals `observed`, as a new vector of length n.
Vector* new_part(const Vector* v, const int* mask, bool observed, int n) {
  Vector* part = new_vector(n);
  int k = 0;
  for (int i = 0; i < v->n; ++i) {
    if ((mask[i] != 0) == observed) part->data[k++] = v->data[i];
  }
  return part;
}

// The block of m whose rows and columns are picked the same way.
Matrix* new_block(const Matrix* m, const int* mask, bool rows_observed, bool cols_observed,
                  int n_rows, int n_cols) {
  Matrix* block = new_matrix(n_rows, n_cols);
  int r = 0;
  for (int i = 0; i < m->rows; ++i) {
    if ((mask[i] != 0) != rows_observed) continue;
    double* to = (*block)[r++];
    int c = 0;
    for (int j = 0; j < m->cols; ++j) {
      if ((mask[j] != 0) == cols_observed) to[c++] = (*m)[i][j];
    }
  }
  return block;
}

}  // namespace

double lgauss_1d(double x, double mu, double var) {
  double dx = x - mu;
  return -dx * dx / (2.0 * var) - 0.5 * std::log(2.0 * std::numbers::pi * var);
}

double lgauss_2d(const Vector* x, const Vector* mu, const Matrix* cov) {
  if (x->n != 2) die_bad_dimension("lgauss_2d");
  require_point(x, mu, cov, "lgauss_2d");
  double s1 = std::sqrt((*cov)[0][0]);
  double s2 = std::sqrt((*cov)[1][1]);
  double rho = (*cov)[0][1] / (s1 * s2);
  double z1 = (x->data[0] - mu->data[0]) / s1;
  double z2 = (x->data[1] - mu->data[1]) / s2;
  double one_minus_rho2 = 1.0 - rho * rho;
  return -0.5 * (z1 * z1 - 2.0 * rho * z1 * z2 + z2 * z2) / one_minus_rho2 -
         std::log(2.0 * std::numbers::pi * s1 * s2 * std::sqrt(one_minus_rho2));
}

double lgauss_mv_prec(const Vector* x, const Vector* mu, const Matrix* prec, double det_cov) {
  require_point(x, mu, prec, "lgauss_mv_prec");
  Vector* diff = new_vector(x->n);
  subtract_vector(diff, x, mu);
  double q = quadratic_form(prec, diff);
  free_vector(diff);
  return -0.5 * q - 0.5 * (std::log(det_cov) + x->n * kLn2Pi);
}

double lgauss_mv(const Vector* x, const Vector* mu, const Matrix* cov) {
  require_point(x, mu, cov, "lgauss_mv");
  Matrix* prec = new_matrix(cov->rows, cov->cols);
  const DetResult r = inverse_spd(prec, cov);
  if (!r.ok) {
    free_matrix(prec);
    raise_numerical_error("lgauss_mv", "Failed to invert covariances\n");
  }
  double result = lgauss_mv_prec(x, mu, prec, r.det);
  free_matrix(prec);
  return result;
}

double lgauss(const Vector* x, const Vector* mu, const Matrix* cov) {
  require_point(x, mu, cov, "lgauss");
  switch (x->n) {
    case 1:
      return check_gauss(lgauss_1d(x->data[0], mu->data[0], (*cov)[0][0]));
    case 2:
      return check_gauss(lgauss_2d(x, mu, cov));
    default:
      return check_gauss(lgauss_mv(x, mu, cov));
  }
}

double lgauss(const Vector* x, const Vector* mu, const Matrix* cov, const Matrix* prec,
              double det_cov) {
  require_point(x, mu, cov, "lgauss");
  switch (x->n) {
    case 1:
      return check_gauss(lgauss_1d(x->data[0], mu->data[0], (*cov)[0][0]));
    case 2:
      return check_gauss(lgauss_2d(x, mu, cov));
    default:
      return check_gauss(lgauss_mv_prec(x, mu, prec, det_cov));
  }
}

double lgauss_marginal(const Vector* x, const Vector* mu, const Matrix* cov, const int* mask) {
  require_point(x, mu, cov, "lgauss_marginal");
  int n_obs = count_mask(mask, x->n);
  if (n_obs == 0) return 0.0;  // nothing observed: a factor of 1
  Vector* x_o = new_sub_vector(x, mask, n_obs);
  Vector* mu_o = new_sub_vector(mu, mask, n_obs);
  Matrix* cov_oo = new_sub_matrix(cov, mask, mask, n_obs, n_obs);
  double result = lgauss(x_o, mu_o, cov_oo);
  free_matrix(cov_oo);
  free_vector(mu_o);
  free_vector(x_o);
  return check_gauss(result);
}

double lgauss_cond(const Vector* x, const Vector* mu, const Matrix* cov, const int* mask) {
  require_point(x, mu, cov, "lgauss_cond");
  int n_obs = count_mask(mask, x->n);
  int n_miss = x->n - n_obs;
  if (n_miss == 0) return 0.0;  // nothing left to condition
  if (n_obs == 0) return lgauss(x, mu, cov);

  Matrix* cov_oo = new_block(cov, mask, true, true, n_obs, n_obs);
  Matrix* prec_oo = new_matrix(n_obs, n_obs);
  if (!inverse_spd(prec_oo, cov_oo).ok) {
    free_matrix(prec_oo);
    free_matrix(cov_oo);
    raise_numerical_error("lgauss_cond", "Failed to invert the covariances of the observed part\n");
  }

  // gain = C_mo C_oo^-1 (m x o)
  Matrix* cov_mo = new_block(cov, mask, false, true, n_miss, n_obs);
  Matrix* gain = new_matrix(n_miss, n_obs);
  multiply_matrix(gain, cov_mo, prec_oo);

  // mean: mu_m + gain (x_o - mu_o)
  Vector* diff_o = new_part(x, mask, true, n_obs);
  Vector* mu_o = new_part(mu, mask, true, n_obs);
  subtract_vector(diff_o, mu_o);
  Vector* mean = new_part(mu, mask, false, n_miss);
  Vector* shift = new_vector(n_miss);
  multiply_matrix_vector(shift, gain, diff_o);
  add_vector(mean, shift);

  // covariance: C_mm - gain C_om, symmetric by its upper triangle
  Matrix* cov_om = new_block(cov, mask, true, false, n_obs, n_miss);
  Matrix* reduction = new_matrix(n_miss, n_miss);
  multiply_matrix(reduction, gain, cov_om);
  Matrix* cond_cov = new_block(cov, mask, false, false, n_miss, n_miss);
  subtract_matrix(cond_cov, reduction);
  symmetrise(cond_cov);

  Vector* x_m = new_part(x, mask, false, n_miss);
  double result = lgauss(x_m, mean, cond_cov);

  free_vector(x_m);
  free_matrix(cond_cov);
  free_matrix(reduction);
  free_matrix(cov_om);
  free_vector(shift);
  free_vector(mean);
  free_vector(mu_o);
  free_vector(diff_o);
  free_matrix(gain);
  free_matrix(cov_mo);
  free_matrix(prec_oo);
  free_matrix(cov_oo);
  return result;
}

double lgauss_stat(double n, const Vector* s, const Matrix* ss, const Vector* mu,
                   const Matrix* prec, double det_cov) {
  int d = s->n;
  if (d < 1 || mu->n != d || ss->rows != d || ss->cols != d || prec->rows != d ||
      prec->cols != d) {
    die_bad_dimension("lgauss_stat");
  }
  // trace(P M) with the scatter M = SS - mu s' - s mu' + n mu mu' built on
  // the upper triangle and mirrored.
  const double* m = mu->data;
  const double* sum = s->data;
  double tr = 0.0;
  for (int i = 0; i < d; ++i) {
    for (int j = i; j < d; ++j) {
      double scatter = (*ss)[i][j] - m[i] * sum[j] - sum[i] * m[j] + n * m[i] * m[j];
      double weight = i == j ? (*prec)[i][i] : (*prec)[i][j] + (*prec)[j][i];
      tr += weight * scatter;
    }
  }
  return check_gauss(-0.5 * (n * (std::log(det_cov) + d * kLn2Pi) + tr));
}

double gauss_1d(double x, double mu, double var) { return std::exp(lgauss_1d(x, mu, var)); }
double gauss_2d(const Vector* x, const Vector* mu, const Matrix* cov) {
  return std::exp(lgauss_2d(x, mu, cov));
}
double gauss_mv(const Vector* x, const Vector* mu, const Matrix* cov) {
  return std::exp(lgauss_mv(x, mu, cov));
}
double gauss_mv_prec(const Vector* x, const Vector* mu, const Matrix* prec, double det_cov) {
  return std::exp(lgauss_mv_prec(x, mu, prec, det_cov));
}
double gauss(const Vector* x, const Vector* mu, const Matrix* cov) {
  return std::exp(lgauss(x, mu, cov));
}
double gauss(const Vector* x, const Vector* mu, const Matrix* cov, const Matrix* prec,
             double det_cov) {
  return std::exp(lgauss(x, mu, cov, prec, det_cov));
}
double gauss_marginal(const Vector* x, const Vector* mu, const Matrix* cov, const int* mask) {
  return std::exp(lgauss_marginal(x, mu, cov, mask));
}
double gauss_cond(const Vector* x, const Vector* mu, const Matrix* cov, const int* mask) {
  return std::exp(lgauss_cond(x, mu, cov, mask));
}
double gauss_stat(double n, const Vector* s, const Matrix* ss, const Vector* mu,
                  const Matrix* prec, double det_cov) {
  return std::exp(lgauss_stat(n, s, ss, mu, prec, det_cov));
}

void set_model_dump(ModelDump dump) { g_model_dump = dump; }

void fail_density_check(const char* check, const char* text) {
  // A dump that itself meets a bad density must not come back here.
  ModelDump dump = g_model_dump;
  g_model_dump = nullptr;
  if (dump != nullptr) dump();
  raise_numerical_error(check, text);
}

double check_gauss(double log_density) {
  if (std::isnan(log_density)) {
    fail_density_check("check_gauss", "Computed Gaussian p.d.f. is not a number\n");
  }
  if (std::isinf(log_density)) {
    fail_density_check("check_gauss", "Computed Gaussian p.d.f. is not finite\n");
  }
  return log_density;
}

}  // namespace veska
