#include "common/students_t.h"

#include <cmath>
#include <numbers>

#include "common/gauss.h"
#include "common/matrix.h"
#include "common/misc.h"
#include "common/gamma_functions.h"

namespace veska {

namespace {

void require_point(const Vector* x, const Vector* mu, const Matrix* scale, const char* function) {
  int d = x->n;
  if (d < 1 || mu->n != d || scale->rows != d || scale->cols != d) die_bad_dimension(function);
}

// The D-dimensional log density from the quadratic form q = (x - mu)' S^-1
// (x - mu) and det S.
// The terms without q come first, so a prepared density that keeps them
// gives the same bits.
double log_density_head(int d, double det_scale, double nu) {
  return log_gamma((nu + d) / 2.0) - 0.5 * d * std::log(nu * std::numbers::pi) -
         log_gamma(nu / 2.0) - 0.5 * std::log(det_scale);
}

double log_density_tail(double head, int d, double q, double nu) {
  return head - 0.5 * (nu + d) * std::log1p(q / nu);
}

double log_density(int d, double q, double det_scale, double nu) {
  return log_density_tail(log_density_head(d, det_scale, nu), d, q, nu);
}

// q with the inverse of `scale` (D above 1); false when the symmetric
// inverse rejects it.
bool quadratic_and_det(const Vector* x, const Vector* mu, const Matrix* scale, double* q,
                       double* det) {
  Matrix* prec = new_matrix(scale->rows, scale->cols);
  const DetResult r = inverse_spd(prec, scale);
  *det = r.det;
  const bool inverted = r.ok;
  if (inverted) {
    Vector* diff = new_vector(x->n);
    subtract_vector(diff, x, mu);
    *q = quadratic_form(prec, diff);
    free_vector(diff);
  }
  free_matrix(prec);
  return inverted;
}

}  // namespace

double lstudents_t_1d(double x, double mu, double var, double nu) {
  double dx = x - mu;
  return log_density(1, dx * dx / var, var, nu);
}

double lstudents_t_mv(const Vector* x, const Vector* mu, const Matrix* scale, double nu) {
  require_point(x, mu, scale, "lstudents_t_mv");
  double q, det;
  if (!quadratic_and_det(x, mu, scale, &q, &det)) {
    raise_numerical_error("lstudents_t_mv", "Failed to invert covariances\n");
  }
  return log_density(x->n, q, det, nu);
}

double lstudents_t(const Vector* x, const Vector* mu, const Matrix* scale, double nu) {
  require_point(x, mu, scale, "lstudents_t");
  if (x->n == 1) return check_students_t(lstudents_t_1d(x->data[0], mu->data[0], (*scale)[0][0], nu));
  return check_students_t(lstudents_t_mv(x, mu, scale, nu));
}

double lstudents_t_marginal(const Vector* x, const Vector* mu, const Matrix* scale, double nu,
                            const int* mask) {
  require_point(x, mu, scale, "lstudents_t_marginal");
  int n_obs = count_mask(mask, x->n);
  int n_miss = x->n - n_obs;
  if (n_obs == 0 || n_miss == 0) msg_printf("n_miss = %d, n_obs = %d\n", n_miss, n_obs);
  if (n_obs == 0) return 0.0;  // nothing observed: a factor of 1

  // The marginal of a multivariate t over some components keeps their
  // location and scale block and its degrees of freedom.
  Vector* x_o = new_sub_vector(x, mask, n_obs);
  Vector* mu_o = new_sub_vector(mu, mask, n_obs);
  Matrix* scale_oo = new_sub_matrix(scale, mask, mask, n_obs, n_obs);
  double result = 0.0;
  bool inverted = true;
  if (n_obs == 1) {
    result = lstudents_t_1d(x_o->data[0], mu_o->data[0], (*scale_oo)[0][0], nu);
  } else {
    double q, det;
    inverted = quadratic_and_det(x_o, mu_o, scale_oo, &q, &det);
    if (inverted) result = log_density(n_obs, q, det, nu);
  }
  free_matrix(scale_oo);
  free_vector(mu_o);
  free_vector(x_o);
  if (!inverted) {
    raise_numerical_error("lstudents_t_marginal",
                          "Failed to invert the covariances of the observed part\n");
  }
  return check_students_t(result);
}

PreparedStudentsT prepare_students_t(const Vector* mu, const Matrix* scale, double nu) {
  if (mu->n < 1 || scale->rows != mu->n || scale->cols != mu->n) {
    die_bad_dimension("prepare_students_t");
  }
  PreparedStudentsT t;
  t.d = mu->n;
  t.nu = nu;
  t.mu = mu;
  if (t.d == 1) {
    t.variance = (*scale)[0][0];
    t.head = log_density_head(1, t.variance, nu);
    return t;
  }
  t.precision = new_matrix(t.d, t.d);
  const DetResult r = inverse_spd(t.precision, scale);
  t.inverted = r.ok;
  t.head = log_density_head(t.d, r.det, nu);
  return t;
}

void free_students_t(PreparedStudentsT& t) {
  if (t.precision != nullptr) free_matrix(t.precision);
  t.precision = nullptr;
}

double lstudents_t(const PreparedStudentsT& t, const double* x) {
  if (t.d == 1) {
    const double dx = x[0] - t.mu->data[0];
    return check_students_t(log_density_tail(t.head, 1, dx * dx / t.variance, t.nu));
  }
  if (!t.inverted) raise_numerical_error("lstudents_t_mv", "Failed to invert covariances\n");
  const double q = quadratic_form_of_difference(t.precision, x, t.mu->data);
  return check_students_t(log_density_tail(t.head, t.d, q, t.nu));
}

double students_t_1d(double x, double mu, double var, double nu) {
  return std::exp(lstudents_t_1d(x, mu, var, nu));
}
double students_t_mv(const Vector* x, const Vector* mu, const Matrix* scale, double nu) {
  return std::exp(lstudents_t_mv(x, mu, scale, nu));
}
double students_t(const Vector* x, const Vector* mu, const Matrix* scale, double nu) {
  return std::exp(lstudents_t(x, mu, scale, nu));
}
double students_t_marginal(const Vector* x, const Vector* mu, const Matrix* scale, double nu,
                           const int* mask) {
  return std::exp(lstudents_t_marginal(x, mu, scale, nu, mask));
}

double check_students_t(double log_density) {
  if (std::isnan(log_density)) {
    fail_density_check("check_students_t", "Student's-t p.d.f. returned NaN\n");
  }
  if (std::isinf(log_density)) {
    fail_density_check("check_students_t", "Student's-t p.d.f. returned INF\n");
  }
  return log_density;
}

}  // namespace veska
