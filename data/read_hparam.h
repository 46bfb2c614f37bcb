// The hyperparameter file: the model a variational-Bayes run wrote as its
// HPARAM data matrices, read back so that a later run can use it without
// estimating.
//
// Data matrices are taken by their position in the file, never by their IDs:
// class pseudo counts first, then one per discrete attribute, then per
// Gaussian block its means and covariances, then tau and one alpha matrix per
// block. Every row is checked; a bad row is a line error with the file, the
// line and a check ID, and the run ends.
#pragma once

#include <cstddef>
#include <vector>

#include "common/attributes.h"
#include "common/settings.h"

namespace veska {

// A hand-made file could declare more classes than any run can hold; the
// engine sizes per-class and per-case arrays from K.
constexpr int kMaxStoredClasses = 10000;

// The stored model, independent of any engine's state.
struct StoredHparams {
  int K = 0;
  int n_groups = 0;
  std::vector<double> delta;  // class pseudo counts, per class
  // Per discrete attribute (by discrete position): pseudo counts, index
  // k * n_values + v with v the value code of the attribute's table.
  std::vector<std::vector<double>> delta_cat;
  std::vector<double> tau;  // per class
  // Per class and block, index k * n_groups + b: the mean (D_b values), the
  // covariance (D_b x D_b row by row, both triangles) and alpha.
  std::vector<std::vector<double>> mean;
  std::vector<std::vector<double>> covar;
  std::vector<double> alpha;

  size_t block_index(int k, int b) const { return static_cast<size_t>(k) * n_groups + b; }
};

// Reads settings.files.hparam (fields split by the input extension's
// delimiter). The attribute roles and Gaussian blocks must be final. Enters
// the value names into the attributes' tables and completes their summaries
// (count, names by code, display order), after which the value sets are
// closed: a case with another value is an error. Progress: "Reading
// hyperparameters from %s..." then "done\n". Every fault is fatal.
StoredHparams read_hparam(const Settings& settings, AttrModel& model);

}  // namespace veska
