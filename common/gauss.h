// Gaussian log densities of the full-covariance blocks: whole, over the
// observed part, conditional on it, and from sufficient statistics.
//
// x is the point, mu the mean, cov the covariance; the dimension D is x's
// length and the other operands must match it (else a fatal internal
// error). Temporaries come from the store and go back before each call ends,
// so a call allocates nothing from the system once its shapes have been seen.
// The checked forms stop the run on a non-finite result.
#pragma once

#include "common/matrix_store.h"

namespace veska {

// ---- unchecked ------------------------------------------------------------

// -(x - mu)^2 / (2 var) - ln(2 pi var) / 2
double lgauss_1d(double x, double mu, double var);
// Through the correlation: s1, s2 the standard deviations, rho, z1, z2.
double lgauss_2d(const Vector* x, const Vector* mu, const Matrix* cov);
// -(x - mu)' cov^-1 (x - mu) / 2 - (ln det cov + D ln 2 pi) / 2; a covariance
// the symmetric inverse rejects is a numerical error.
double lgauss_mv(const Vector* x, const Vector* mu, const Matrix* cov);
// The same with a given precision prec = cov^-1 and det cov.
double lgauss_mv_prec(const Vector* x, const Vector* mu, const Matrix* prec, double det_cov);

// ---- checked ----------------------------------------------------------------

// D = 1, 2: the closed forms; otherwise lgauss_mv.
double lgauss(const Vector* x, const Vector* mu, const Matrix* cov);
// The same with a precision and determinant already at hand (used above D = 2).
double lgauss(const Vector* x, const Vector* mu, const Matrix* cov, const Matrix* prec,
              double det_cov);
// The components with a nonzero mask (the observed part); 0 when none is.
double lgauss_marginal(const Vector* x, const Vector* mu, const Matrix* cov, const int* mask);
// The components with a zero mask given those with a nonzero mask: mean
// mu_m + C_mo C_oo^-1 (x_o - mu_o), covariance C_mm - C_mo C_oo^-1 C_om.
// 0 when every component is observed; the plain density when none is.
double lgauss_cond(const Vector* x, const Vector* mu, const Matrix* cov, const int* mask);
// n points summarised by their sum s and sum of outer products ss (upper
// triangle read): -[ n (ln det + D ln 2 pi) + trace(prec (ss - mu s' - s mu'
// + n mu mu')) ] / 2.
double lgauss_stat(double n, const Vector* s, const Matrix* ss, const Vector* mu,
                   const Matrix* prec, double det_cov);

// The densities themselves: exp of the log forms above.
double gauss_1d(double x, double mu, double var);
double gauss_2d(const Vector* x, const Vector* mu, const Matrix* cov);
double gauss_mv(const Vector* x, const Vector* mu, const Matrix* cov);
double gauss_mv_prec(const Vector* x, const Vector* mu, const Matrix* prec, double det_cov);
double gauss(const Vector* x, const Vector* mu, const Matrix* cov);
double gauss(const Vector* x, const Vector* mu, const Matrix* cov, const Matrix* prec,
             double det_cov);
double gauss_marginal(const Vector* x, const Vector* mu, const Matrix* cov, const int* mask);
double gauss_cond(const Vector* x, const Vector* mu, const Matrix* cov, const int* mask);
double gauss_stat(double n, const Vector* s, const Matrix* ss, const Vector* mu,
                  const Matrix* prec, double det_cov);

// ---- checks -----------------------------------------------------------------

// Returns a finite log density unchanged; on NaN or infinity writes the model
// dump to the log and ends the run with a numerical error.
double check_gauss(double log_density);

// What the density checks write to the log before failing: the engine
// installs a function that prints the current model's parameter data
// matrices. None by default.
using ModelDump = void (*)();
void set_model_dump(ModelDump dump);

// The common end of the density checks: the model dump, then
// raise_numerical_error(check, text).
[[noreturn]] void fail_density_check(const char* check, const char* text);

}  // namespace veska
