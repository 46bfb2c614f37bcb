// The conditional Gaussians of the blocks with missing values, once per
// pattern of observed dimensions and class instead of once per entry: for a
// block with covariance Sigma, observed part o and missing part q,
//   Sigma_oo^-1, ln |Sigma_oo|, the regression R = Sigma_qo Sigma_oo^-1 and
//   the conditional covariance C = Sigma_qq - R Sigma_oq.
// An engine fills the tables of the classes it is about to use, outside the
// hot loops; its callbacks then only read them, so they may run on several
// threads at once. With the tables, an entry costs O(o^2 + m o + m^2).
#pragma once

#include <vector>

#include "data/entry_views.h"

namespace veska {

// One pattern's matrices in one class, pointing into the tables.
struct PatternView {
  const BlockPattern* pattern;
  const double* inv_oo;  // o x o
  const double* regression;  // m x o
  const double* cond;  // m x m
  double ln_det_oo;
  int o() const { return static_cast<int>(pattern->observed.size()); }
  int m() const { return static_cast<int>(pattern->missing.size()); }
};

class PatternTables {
 public:
  PatternTables() = default;
  // Room for every pattern of every block in K classes.
  PatternTables(const EntryViews& views, int K);

  // Fills pattern p of block b in class k from the block's covariance
  // (d x d, row by row). False when Sigma_oo is not positive definite.
  bool fill(const EntryViews& views, int b, int p, int k, const double* sigma, int d);
  // Every pattern of block b in class k; false as fill.
  bool fill_block(const EntryViews& views, int b, int k, const double* sigma, int d);

  PatternView view(const EntryViews& views, int b, int p, int k) const;

  bool operator==(const PatternTables&) const = default;

 private:
  int K_ = 0;
  std::vector<size_t> first_;   // per block: its first pattern's index
  std::vector<size_t> offset_;  // per pattern (all blocks): class 0's values
  std::vector<size_t> size_;    // per pattern: the values of one class
  std::vector<double> values_;
};

// The doubles of work the per-entry functions below need for a block of
// dimension d.
inline size_t pattern_work_size(int d) { return 2 * static_cast<size_t>(d); }

// (x_o - mu_o)' Sigma_oo^-1 (x_o - mu_o) of one entry's block values x.
double observed_quadratic(const PatternView& pv, const double* x, const double* mu, double* work);

// Adds w times the completed point less the centre, z - c (centre nullptr:
// z), and its second moments to S1 and S2 (upper triangle, d x d): observed
// values as they are, missing ones by their conditional mean
// mu_q + R (x_o - mu_o), and `cond_scale` times C on the missing pairs.
void add_imputed_moments(const PatternView& pv, const double* x, const double* mu,
                         const double* centre, double w, double cond_scale, int d, double* s1,
                         double* s2, double* work);

}  // namespace veska
