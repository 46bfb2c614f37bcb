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
#include "common/matrix_value.h"
#include "common/settings.h"
#include "data/entry_views.h"
#include "data/read_freq.h"
#include "data/stat.h"
#include "fit/kernels.h"
#include "fit/missing_patterns.h"
#include "fit/parallel.h"

namespace veska {

// What the engine reads but never changes during a run.
struct VbContext {
  const Settings& settings;
  const AttrModel& model;
  const CaseTable& cases;
  const SampleStats& stats;  // sample means/covariances per Gaussian group
  const EntryViews& views;   // of `cases`, shared by every K
};

// The hyperparameters of one Gaussian block in one class.
struct VbBlock {
  VectorValue mu0;
  MatrixValue sigma0;
  MatrixValue w0;  // Sigma0^-1
  double det_sigma0 = 0.0;
  VectorValue mu;
  MatrixValue sigma;
  MatrixValue w;  // Sigma^-1
  double det_sigma = 0.0;
  bool operator==(const VbBlock&) const = default;
};

// The sufficient statistics of one Gaussian block in one class: the first
// moment and the second-moment matrix (upper triangle used) of the values
// less the block's sample mean c, sums of w (x - c) and w (x - c)(x - c)',
// which keep their digits whatever the data's offset; and the weighted
// mean x-bar = c + S1 / N_k on the data's own scale.
struct VbMoments {
  VectorValue s1;
  VectorValue xbar;
  MatrixValue s2;
  bool operator==(const VbMoments&) const = default;
};

// What the E-step needs of one block in the class at hand: the expected log
// normaliser A, the scale s of E[Lambda] = s W, ln s, and ln |Sigma|.
struct VbBlockTerms {
  double a = 0.0;
  double scale = 0.0;
  double ln_scale = 0.0;
  double ln_det = 0.0;
};

// The model record: every prior and posterior hyperparameter of one K, with
// the N_k they were last updated from. It is a value: copying it is the
// best-restart and optimal-K save, assigning it back the restore.
struct VbHparams {
  std::vector<double> delta0, delta;          // K
  std::vector<double> delta0_cat, delta_cat;  // K * cat_stride
  std::vector<VbBlock> blocks;                // K * n_groups, index k * n_groups + b
  std::vector<double> n_k;                    // N_k
  bool operator==(const VbHparams&) const = default;
};

// What one iteration derives from the record: statistics, expected logs and
// the per-entry arrays, at the inverse temperature of the step.
struct VbWork {
  std::vector<double> n_cat;        // n_kjv, K * cat_stride
  std::vector<VbMoments> moments;   // K * n_groups, as the blocks
  std::vector<double> e_log_pi;     // E[ln pi_k]
  std::vector<double> e_log_theta;  // E[ln theta_kjv], K * cat_stride
  // Per class and entry (index k * n_entries + n): log rho, responsibility.
  std::vector<double> log_rho;
  std::vector<double> resp;
  // sum_n c_n ln Z_n of the last normaliser pass, summed there chunk by
  // chunk: the free energy reads no single ln Z_n, so none is kept.
  double entry_term = 0.0;
  // Whether the last normaliser pass left the responsibilities of the
  // current log rho in `resp` (of all classes, or of the listed ones of a
  // partial step), so that the update need not take them again.
  enum class FreshResp : unsigned char { kNone, kAllClasses, kListedClasses };
  FreshResp fresh_resp = FreshResp::kNone;
  // Per pattern of observed dimensions and class: Sigma_oo^-1 and the
  // conditional Gaussian of the missing part, refreshed before each step
  // that reads them (the E-step term and the imputation).
  PatternTables missing_tables;
  double beta = 1.0;  // inverse temperature
  bool operator==(const VbWork&) const = default;
};

// Scratch of the hot loops (vbem.cc alone reads it), sized once so that an
// iteration takes nothing from the system.
//   block_terms           per class and block (k * n_groups + b), for the
//                         entries with missing values
//   kernel                the shared kernels' lanes and parameter pointers
//   chunks                the pool workers' kernel scratch and the chunks'
//                         partial sums
struct VbLaneScratch {
  std::vector<VbBlockTerms> block_terms;
  KernelScratch kernel;
  ChunkWork chunks;
};

// The state of the engine for one K: its shape, the model record, the work
// arrays and the hot loops' scratch. The record and the work arrays are
// bases so that the maths names their fields directly; `hparams()` and
// `work()` are the parts to copy.
struct VbState : VbHparams, VbWork {
  int K = 0;
  int n_entries = 0;  // M
  int n_discrete = 0;
  int n_groups = 0;
  std::vector<int> n_values;  // |V_j| per discrete attribute
  std::vector<int> dims;      // D_b per block
  int max_dim = 0;            // largest D_b (0 without blocks)

  // Whether the case table has any missing continuous value (the entries'
  // own are the views' patterns).
  bool gauss_missing = false;

  // Per-class attribute-value arrays are flat: index k * cat_stride +
  // cat_offset[j] + v (the cells of the views).
  std::vector<int> cat_offset;
  int cat_stride = 0;

  double tau0 = 0.0;
  std::vector<double> alpha0;  // per block: --alpha when positive, else D + 1e-6

  VbLaneScratch lanes;

  VbHparams& hparams() { return *this; }
  const VbHparams& hparams() const { return *this; }
  VbWork& work() { return *this; }
  const VbWork& work() const { return *this; }

  VbBlock& block(int k, int b) { return blocks[static_cast<size_t>(k) * n_groups + b]; }
  const VbBlock& block(int k, int b) const {
    return blocks[static_cast<size_t>(k) * n_groups + b];
  }
  VbMoments& moments_of(int k, int b) { return moments[static_cast<size_t>(k) * n_groups + b]; }
  const VbMoments& moments_of(int k, int b) const {
    return moments[static_cast<size_t>(k) * n_groups + b];
  }
  size_t cat_index(int k, int j, int v) const {
    return static_cast<size_t>(k) * cat_stride + cat_offset[j] + v;
  }
  size_t entry_index(int k, int n) const { return static_cast<size_t>(k) * n_entries + n; }
};

// Sizes every array for K classes, zeroed.
VbState allocate_vb_state(const VbContext& ctx, int K);
// Empties the state.
void free_vb_state(VbState& state);
// Frees the per-entry arrays (log rho, responsibilities, ln Z) once no step
// of this K reads them again: the post-analysis needs their room.
void release_entry_arrays(VbWork& work);

// For every class and block: W = Sigma^-1 and |Sigma|. A Sigma that cannot be
// inverted is a numerical error.
void compute_hparam_precisions(VbState& state);
// The same for the listed classes only (the split-and-merge partial steps).
void compute_hparam_precisions_part(VbState& state, std::span<const int> classes);

// Puts a copy of a state's record back into a state of the same K (the
// restores of saved copies); a copy of another shape is an internal error.
void restore_hparams(const VbHparams& copy, VbState& state);

}  // namespace veska
