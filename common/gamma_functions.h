// Log-gamma, digamma and the Wishart log normaliser, for the free energy,
// the expected logs of the variational posteriors and the Student-t
// densities.
#pragma once

namespace veska {

// ln Gamma(x) for real x (ln |Gamma(x)| below zero); NaN for NaN, +inf for
// +-inf and for the poles 0, -1, -2, ...
double log_gamma(double x);

// psi(x) = d ln Gamma(x) / dx.
double digamma(double x);

// -[ (D(D-1)/4) ln pi + (nu D / 2) ln 2 + sum_{i=1..D} ln Gamma((nu + 1 - i)/2) ]:
// the log of the Wishart normalising constant without its determinant factor.
double log_wishart_const(int d, double nu);

}  // namespace veska
