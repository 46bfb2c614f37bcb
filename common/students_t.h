// Student-t log densities, for the predictive distributions of the
// variational model: x the point, mu the location, scale the scale matrix,
// nu the degrees of freedom. Shapes must match (else a fatal internal
// error); temporaries come from the store and go back before each call ends.
#pragma once

#include "common/matrix_store.h"

namespace veska {

// ln G((nu+1)/2) - ln(nu pi)/2 - ln G(nu/2) - ln(var)/2
//   - ((nu+1)/2) ln(1 + (x - mu)^2 / (var nu))
double lstudents_t_1d(double x, double mu, double var, double nu);
// ln G((nu+D)/2) - (D/2) ln(nu pi) - ln G(nu/2) - ln(det scale)/2
//   - ((nu+D)/2) ln(1 + (x - mu)' scale^-1 (x - mu) / nu);
// a scale the symmetric inverse rejects is a numerical error.
double lstudents_t_mv(const Vector* x, const Vector* mu, const Matrix* scale, double nu);

// Checked. D = 1: the 1-D form; otherwise the multivariate one.
double lstudents_t(const Vector* x, const Vector* mu, const Matrix* scale, double nu);
// Checked. The marginal over the components with a nonzero mask (the
// observed part): location mu_o, scale S_oo, the same nu. With nothing
// observed or nothing missing it writes a diagnostic and goes on (0 when
// nothing is observed).
double lstudents_t_marginal(const Vector* x, const Vector* mu, const Matrix* scale, double nu,
                            const int* mask);

// One density prepared for many points: the scale's inverse and the terms
// that do not depend on the point, once. A scale the symmetric inverse
// rejects fails at the first point, as lstudents_t does.
struct PreparedStudentsT {
  int d = 0;
  double nu = 0.0;
  double head = 0.0;      // every term without the point
  double variance = 0.0;  // D = 1
  bool inverted = true;
  const Vector* mu = nullptr;     // not owned
  Matrix* precision = nullptr;    // D > 1, from the store
};
PreparedStudentsT prepare_students_t(const Vector* mu, const Matrix* scale, double nu);
void free_students_t(PreparedStudentsT& t);
// lstudents_t(x, mu, scale, nu) to the bit, x the point's D values.
double lstudents_t(const PreparedStudentsT& t, const double* x);

// The densities themselves.
double students_t_1d(double x, double mu, double var, double nu);
double students_t_mv(const Vector* x, const Vector* mu, const Matrix* scale, double nu);
double students_t(const Vector* x, const Vector* mu, const Matrix* scale, double nu);
double students_t_marginal(const Vector* x, const Vector* mu, const Matrix* scale, double nu,
                           const int* mask);

// Returns a finite log density unchanged; on NaN or infinity writes the model
// dump to the log and ends the run with a numerical error.
double check_students_t(double log_density);

}  // namespace veska
