// The ML/MAP mixture for one number of classes K: the parameters (a plain
// value, so that a copy is a saved model and an assignment restores it), the
// priors that MAP estimation adds, and the per-entry work arrays of EM.
//
// Notation:
//   pi_k               class probability
//   theta_kiv          P(x_i = v | k), discrete attribute i, value code v
//   mu_kb, Sigma_kb    mean and covariance of Gaussian block b in class k,
//                      with Sigma^-1 and |Sigma| kept fresh
//   delta_k, delta_kiv Dirichlet pseudo counts (a + 1 without a file)
//   tau_k, alpha_kb, m0_kb, B0_kb   the Normal-Wishart prior of a block
#pragma once

#include <vector>

#include "common/attributes.h"
#include "common/settings.h"
#include "data/entry_views.h"
#include "data/read_freq.h"
#include "data/stat.h"
#include "fit/kernels.h"
#include "fit/missing_patterns.h"
#include "fit/parallel.h"

namespace veska {

// What the engine reads but never changes.
struct MlContext {
  const Settings& settings;
  const AttrModel& model;
  const CaseTable& cases;
  const SampleStats& stats;
};

// Where each per-class array lives in the flat vectors: discrete values at
// k * cat_stride + cat_offset[i] + v; block b's mean at k * mean_stride +
// mean_offset[b] (D_b values), its covariance at k * covar_stride +
// covar_offset[b] (D_b x D_b row by row).
struct MlLayout {
  int K = 0;
  int n_discrete = 0;
  int n_groups = 0;
  std::vector<int> n_values;
  std::vector<int> cat_offset;
  int cat_stride = 0;
  std::vector<int> dims;
  std::vector<int> mean_offset;
  std::vector<int> covar_offset;
  int mean_stride = 0;
  int covar_stride = 0;
  int max_dim = 0;

  size_t cat(int k, int i, int v) const {
    return static_cast<size_t>(k) * cat_stride + cat_offset[i] + v;
  }
  size_t mean(int k, int b) const {
    return static_cast<size_t>(k) * mean_stride + mean_offset[b];
  }
  size_t covar(int k, int b) const {
    return static_cast<size_t>(k) * covar_stride + covar_offset[b];
  }
  size_t block(int k, int b) const { return static_cast<size_t>(k) * n_groups + b; }
};

MlLayout make_layout(const AttrModel& model, int K);

struct MlParams {
  int K = 0;
  std::vector<double> pi;         // K
  std::vector<double> theta;      // K * cat_stride
  std::vector<double> mean;       // K * mean_stride
  std::vector<double> covar;      // K * covar_stride, symmetric
  std::vector<double> precision;  // Sigma^-1, same layout
  std::vector<double> det;        // |Sigma|, K * n_groups
};

MlParams allocate_params(const MlLayout& layout);

// Sigma^-1 and |Sigma| of every class and block from the covariances.
// "Failed to invert covariances\n" when an inverse is not finite. A
// determinant that is not positive is left for the singular check.
void recompute_precisions(const MlLayout& layout, MlParams& params);
void recompute_class_precisions(const MlLayout& layout, MlParams& params, int k);

// Per class and block index (layout.block) the Normal-Wishart prior.
struct MlPriors {
  bool from_file = false;    // a hyperparameter file gave them
  bool gauss_prior = false;  // the Normal-Wishart prior is in force
  double smooth_c = 0.0;              // a (no file)
  std::vector<double> smooth_a;       // a_i (no file)
  std::vector<double> delta;          // K
  std::vector<double> delta_cat;      // K * cat_stride
  std::vector<double> tau;            // K
  std::vector<double> alpha;          // K * n_groups
  std::vector<double> m0;             // mean layout
  std::vector<double> b0;             // covariance layout
  std::vector<double> b0_inverse;     // covariance layout
  std::vector<double> b0_det;         // K * n_groups
};

// The scale of each block's attributes: the sample variances S_ll, by
// which the singular check and the covariance floor measure a covariance.
struct BlockScales {
  std::vector<double> variance;  // mean layout of one class: mean_offset[b] + l
};

BlockScales block_scales(const MlContext& ctx, const MlLayout& layout);

// Per-run work: the logs of the joint weights, normalisers, responsibilities
// and the expected statistics, sized once per K.
struct MlWork {
  bool log_domain = false;
  double beta = 1.0;
  std::vector<double> weight;  // ln w_kn in both domains, n * K + k
  std::vector<double> norm;    // Z_n or ln Z_n
  std::vector<double> resp;    // r_kn, n * K + k
  // Which responsibilities the last E-step wrote from the weights and
  // normalisers now in place: every class's, or only the listed classes' of
  // a partial run (the others still those of an earlier normaliser).
  enum class FreshResp { kNone, kAllClasses, kListedClasses };
  FreshResp fresh_resp = FreshResp::kNone;
  std::vector<double> e_class; // E_c[k]
  std::vector<double> e_cat;   // E_w, K * cat_stride
  // The block sums of x - c, c the block's sample mean (centre, the mean
  // layout of one class), so that a large common offset costs no digits.
  std::vector<double> s1;      // mean layout
  std::vector<double> s2;      // covariance layout, upper triangle filled
  std::vector<double> centre;
  // Per class and block (layout.block): -(D ln 2pi + ln |Sigma|) / 2.
  std::vector<double> log_norm;
  // Per pattern of observed dimensions and class: Sigma_oo^-1 and the
  // conditional Gaussian of the missing part, refreshed before each step
  // that reads them.
  PatternTables missing_tables;
  std::vector<double> diff;  // x - mu of one block (the membership densities)
  std::vector<double> class_scratch;  // K: per-class sums of one entry
  // The run's views of the cases (built once, read by every K), the shared
  // kernels' scratch, and the logarithms of pi and theta they read.
  const EntryViews* views = nullptr;
  KernelScratch kernel;
  ChunkWork chunks;  // the pool workers' kernel scratch, the chunks' partial sums
  std::vector<double> log_pi;     // K
  std::vector<double> log_theta;  // K * cat_stride
  // Split-and-merge's partial runs: per entry the weights of the classes
  // outside the candidate's three (their sum, or its log), which stay fixed;
  // empty until a K's first candidate.
  std::vector<double> outside;
};

// The work of one K over the run's views, which must outlive it.
// Without `keep_normalisers` the per-entry normalisers are not kept (the
// E-step sums c ln Z itself), which saves 8 bytes an entry.
MlWork allocate_work(const MlLayout& layout, const EntryViews& views, bool keep_normalisers = true);

// Gives a work without them its per-entry normalisers, from the next E-step on.
void keep_normalisers(MlWork& w);

// S1 and S2 of the work on the data's own scale (S1 + N c, S2 + c S1' +
// S1 c' + N c c'), for the printed statistics.
void raw_block_sums(const MlLayout& layout, const MlWork& work, std::vector<double>& s1,
                    std::vector<double>& s2);

}  // namespace veska
