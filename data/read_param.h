// rumel's parameter file: the model an earlier run wrote as its PARAM data
// matrices, read back by position so that a run can cluster, rank and
// evaluate with it without estimating.
#pragma once

#include <vector>

#include "common/attributes.h"
#include "common/settings.h"

namespace veska {

struct StoredParams {
  int K = 0;
  int n_groups = 0;
  std::vector<double> pi;  // per class
  // Per discrete attribute (by discrete position): P(x | k) at
  // k * n_values + v with v the value code of the attribute's table.
  std::vector<std::vector<double>> theta;
  // Per class and block, index k * n_groups + b: the mean and the
  // covariance (row by row, the upper triangle mirrored).
  std::vector<std::vector<double>> mean;
  std::vector<std::vector<double>> covar;
};

// Reads settings.files.param with every row check of the hyperparameter
// reader in the parameter file's words; class and value probabilities must
// lie in [0, 1], and only the upper triangle of a covariance is read. Builds
// the value tables as read_hparam does. "Reading parameters from %s..."
// then "done\n"; every fault is fatal.
StoredParams read_param(const Settings& settings, AttrModel& model);

}  // namespace veska
