// The variational-Bayes model state for one number of classes K: prior and
// posterior hyperparameters, per-entry work arrays and sufficient statistics.
//
// Notation (the HPARAM data matrices use the same names):
//   delta0_k, delta_k        class pseudo counts (prior, posterior)
//   delta0_kjv, delta_kjv    pseudo counts of value v of discrete attribute j
//   mu0, Sigma0, mu, Sigma   Normal-Wishart hyperparameters of block b in
//                            class k, with W = Sigma^-1 and |Sigma| kept fresh
//   N_k                      expected number of cases in class k;
//                            tau_k = N_k + tau0, alpha_kb = N_k + alpha0(D_b)
#pragma once

#include <span>
#include <vector>

#include "common/attributes.h"
#include "common/matrix_store.h"
#include "common/settings.h"
#include "data/read_freq.h"
#include "data/stat.h"

namespace veska {

// What the engine reads but never changes during a run.
struct VbContext {
  const Settings& settings;
  const AttrModel& model;
  const CaseTable& cases;
  const SampleStats& stats;  // sample means/covariances per Gaussian group
};

// Hyperparameters and statistics of one Gaussian block in one class. Every
// Matrix/Vector comes from the store and goes back to it in free_vb_state.
struct VbBlock {
  Vector* mu0 = nullptr;
  Matrix* sigma0 = nullptr;
  Matrix* w0 = nullptr;  // Sigma0^-1
  double det_sigma0 = 0.0;
  Vector* mu = nullptr;
  Matrix* sigma = nullptr;
  Matrix* w = nullptr;  // Sigma^-1
  double det_sigma = 0.0;
  // Sufficient statistics: first moment (then the weighted mean x-bar) and
  // the second-moment matrix (upper triangle used).
  Vector* s1 = nullptr;
  Vector* xbar = nullptr;
  Matrix* s2 = nullptr;
};

// What the E-step needs of one block in the class at hand: the expected log
// normaliser A, the scale s of E[Lambda] = s W, and ln |Sigma|.
struct VbBlockTerms {
  double a = 0.0;
  double scale = 0.0;
  double ln_det = 0.0;
};

// Most classes handled side by side by the E-step and the statistics: each
// lane keeps its own sums in the order of the plain loops, so results do
// not depend on the width.
constexpr int kClassLanes = 6;
// entry_cells of a missing discrete value.
constexpr int kMissingCell = -1;

struct VbState {
  int K = 0;
  int n_entries = 0;  // M
  int n_discrete = 0;
  int n_groups = 0;
  std::vector<int> n_values;  // |V_j| per discrete attribute
  std::vector<int> dims;      // D_b per block
  int max_dim = 0;            // largest D_b (0 without blocks)

  // Whether the case table has any missing continuous value (the entries'
  // own flags are in entry_complete below).
  bool gauss_missing = false;

  // Per-class attribute-value arrays are flat: index k * cat_stride +
  // cat_offset[j] + v.
  std::vector<int> cat_offset;
  int cat_stride = 0;

  double tau0 = 0.0;
  std::vector<double> alpha0;  // per block: --alpha when positive, else D + 1e-6

  std::vector<double> delta0, delta;          // K
  std::vector<double> delta0_cat, delta_cat;  // K * cat_stride
  std::vector<VbBlock> blocks;                // K * n_groups, index k * n_groups + b
  std::vector<double> n_k;                    // N_k
  std::vector<double> n_cat;                  // n_kjv, K * cat_stride
  std::vector<double> e_log_pi;               // E[ln pi_k]
  std::vector<double> e_log_theta;            // E[ln theta_kjv], K * cat_stride

  // Per class and entry (index k * n_entries + n): log rho, responsibility;
  // per entry: log normaliser ln Z_n.
  std::vector<double> log_rho;
  std::vector<double> resp;
  std::vector<double> log_z;

  double beta = 1.0;  // inverse temperature

  // Scratch of the hot loops, sized once so that they take nothing from the
  // system: index lists of the largest block dimension.
  std::vector<int> obs_index;       // observed components, in order
  std::vector<int> mis_index;       // missing components, in order
  std::vector<int> mis_position;    // component -> its place among the missing
  std::vector<double> completed;    // observed values with the missing imputed

  // Per-entry views of the case table, built once per K so that the hot loops
  // read flat arrays instead of the entries' slices:
  //   entry_cells    per entry and discrete attribute (n * n_discrete + j):
  //                  cat_offset[j] + code, or kMissingCell for a missing value
  //   entry_count    c_n as a double
  //   entry_complete 1 when the entry has no missing value at all
  //   entry_reals    the entry's continuous values (its groups side by side)
  //   block_offset   where block b starts among an entry's continuous values
  std::vector<int> entry_cells;
  std::vector<double> entry_count;
  std::vector<unsigned char> entry_complete;
  std::vector<const double*> entry_reals;
  std::vector<int> block_offset;
  // Per block: the entries with a missing value in it, in entry order.
  std::vector<std::vector<int>> block_missing_entries;

  // The E-step and the statistics take the classes up to kClassLanes at a
  // time, one class per lane; these hold the lanes' parameters, laid out for
  // the L lanes of the chunk at hand:
  //   lane_theta   cell-major beta E[ln theta] (cell * L + lane)
  //   lane_counts  cell-major n_kjv being counted
  //   lane_gauss   per block from lane_gauss_offset[b]: mu (D x lanes),
  //                W (D x D x lanes), then per lane A and 0.5 nu_e / beta
  //   lane_diff    x - mu of the largest block (D x lanes)
  //   block_terms  per block and lane (b * kClassLanes + lane)
  std::vector<double> lane_theta;
  std::vector<double> lane_counts;
  std::vector<double> lane_gauss;
  std::vector<size_t> lane_gauss_offset;
  std::vector<double> lane_diff;
  std::vector<VbBlockTerms> block_terms;

  VbBlock& block(int k, int b) { return blocks[static_cast<size_t>(k) * n_groups + b]; }
  const VbBlock& block(int k, int b) const {
    return blocks[static_cast<size_t>(k) * n_groups + b];
  }
  size_t cat_index(int k, int j, int v) const {
    return static_cast<size_t>(k) * cat_stride + cat_offset[j] + v;
  }
  size_t entry_index(int k, int n) const { return static_cast<size_t>(k) * n_entries + n; }
};

// Sizes every array for K classes and takes the block matrices and vectors
// from the store (zeroed), in the order: prior pseudo counts, Gaussian
// priors, posteriors, expected logs, per-entry arrays, statistics.
VbState allocate_vb_state(const VbContext& ctx, int K);
// Returns the block matrices and vectors to the store (reverse groups) and
// empties the state.
void free_vb_state(VbState& state);

// For every class and block: W = Sigma^-1 and |Sigma|. A Sigma that cannot be
// inverted is a numerical error.
void compute_hparam_precisions(VbState& state);
// The same for the listed classes only (the split-and-merge partial steps).
void compute_hparam_precisions_part(VbState& state, std::span<const int> classes);

// A copy of the hyperparameters outside the store. The best-restart copy
// holds the Gaussian priors as well; the optimal-K copy does not.
struct VbSavedState {
  bool valid = false;
  bool with_priors = false;
  int K = 0;
  std::vector<double> delta0, delta, delta0_cat, delta_cat, n_k;
  // Per (k, b) in block order, each block's D or D * D values in a row.
  std::vector<double> mu0, sigma0, w0, det_sigma0;
  std::vector<double> mu, sigma, w, det_sigma;
};

void save_hparams_best(const VbState& state, VbSavedState& copy);
void restore_hparams_best(const VbSavedState& copy, VbState& state);
void save_hparams_opt(const VbState& state, VbSavedState& copy);
// Into a state freshly allocated for the copy's K.
void restore_hparams_opt(const VbSavedState& copy, VbState& state);
void drop_saved_state(VbSavedState& copy);

}  // namespace veska
