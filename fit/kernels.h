// The hot loops that both clustering engines share, on plain per-class
// arrays: the log joint of entries and classes, the discrete counts, and the
// moments of the observed block values. Each engine keeps its own maths for
// what differs (the terms of blocks with missing values, the normalisers,
// the M-steps and the objectives) and hands it in where the loops meet it.
//
// The log joint, the counts and the moments take the classes several at a
// time, one class per lane of the vector unit, so that one read of an entry
// serves every class of the chunk; the normalisers, responsibilities and
// exponentials take the entries several at a time. Each lane does the
// operations of the plain one-class or one-entry loop in its order (sums
// over entries run in entry order), so the results are the same bits for
// every vector width and instruction set (fit/isa picks one per process).
// Nothing here takes memory from the system: the scratch is sized once per
// number of classes.
#pragma once

#include <span>
#include <vector>

#include "data/entry_views.h"
#include "data/read_freq.h"

namespace veska {

// The most doubles of one vector on any instruction set, and the most
// classes one chunk holds (three vectors); the lane scratch is sized for them.
constexpr int kVectorLanes = 8;
constexpr int kClassLanes = 3 * kVectorLanes;

// A run of consecutive entries [first, last): one chunk of the work. A
// kernel's result over a chunk depends on that chunk's entries alone, so
// chunks may run on different threads and their sums be combined in chunk
// order, which keeps the bits whatever the number of threads.
struct EntryRange {
  int first;
  int last;
};
inline EntryRange all_entries(const EntryViews& views) { return {0, views.n_entries}; }

// The classes a step works on: all K, or the few that split-and-merge
// refits (the other classes keep their values).
class ClassList {
 public:
  static ClassList all(int K) { return ClassList(K, {}); }
  static ClassList part(std::span<const int> listed) {
    return ClassList(static_cast<int>(listed.size()), listed);
  }
  int size() const { return n_; }
  int operator[](int i) const { return listed_.empty() ? i : listed_[static_cast<size_t>(i)]; }

 private:
  ClassList(int n, std::span<const int> listed) : n_(n), listed_(listed) {}
  int n_;
  std::span<const int> listed_;
};

// A per-(class, entry) array: the value of class k and entry n at
// k * class_stride + n * entry_stride (class-major or entry-major).
struct ClassEntryArray {
  double* data;
  size_t class_stride;
  size_t entry_stride;
};
struct ConstClassEntryArray {
  const double* data;
  size_t class_stride;
  size_t entry_stride;
};

// The lanes' copies of the per-class parameters, and the per-(class, block)
// parameter pointers the engines fill before a call:
//   lane_theta   cell-major beta ln theta (cell * L + lane)
//   lane_counts  cell-major counts being summed
//   lane_gauss   per block from lane_gauss_offset[b]: mean (D x lanes),
//                precision (D x D x lanes), then per lane the constant and
//                half the scale
//   lane_diff    x - mean of the largest block (D x lanes)
//   entry_lanes  the values of every block of a vector of entries
//                (sum of D x lanes)
//   mean, precision, log_const, scale   per class and block (k * G + b)
//   s1, s2       per class: the block's moment sums being added to
//   lane_pattern one pattern's per-class matrices in lanes, then scratch
struct KernelScratch {
  std::vector<double> lane_theta;
  std::vector<double> lane_counts;
  std::vector<double> lane_gauss;
  std::vector<size_t> lane_gauss_offset;
  std::vector<double> lane_diff;
  std::vector<double> entry_lanes;  // complete entries' block values, lane by lane
  std::vector<const double*> mean;
  std::vector<const double*> precision;
  std::vector<double> log_const;
  std::vector<double> scale;
  std::vector<double> block_shift;
  std::vector<double*> s1;
  std::vector<double*> s2;
  // The lanes of one pattern of observed dimensions (its matrices, class by
  // lane) and one entry's observed values.
  std::vector<double> lane_pattern;
  // The engine's own scratch for its missing-value callbacks, sized by the
  // engine; each thread has its own.
  std::vector<double> missing_work;
};

KernelScratch allocate_kernel_scratch(int K, int cat_stride, std::span<const int> dims);

// What the engine supplies for the entries with missing values in block b
// whose observed dimensions are pattern p (EntryViews::block_patterns), in
// class k: the observed part's precision and the class's block mean, and
// the term's constant c and scale s, the term being c - (s / 2) Q with
// Q = (x_o - mu_o)' P_oo (x_o - mu_o) (no observed value: Q = 0). `self` is
// the engine's context. The callback is asked once per pattern and class
// of each call, may run on several threads at once and writes only `out`.
struct PatternTerm {
  const double* mean = nullptr;       // D, the whole block's
  const double* precision = nullptr;  // o x o over the observed dimensions
  double constant = 0.0;
  double scale = 0.0;
};
struct MissingBlockTerm {
  void (*pattern)(const void* self, int b, int p, int k, PatternTerm* out);
  const void* self;
};

// The log joint of every entry and listed class:
//   out_kn = beta (ln pi_k + sum_j ln theta_k,x_nj + sum_b [-shift_b + t_kbn])
// with t_kbn = c_kb - (s_kb / 2) (x - m_kb)' P_kb (x - m_kb) for a block
// whose values are all observed (m the mean, P the precision, c the
// constant and s the scale of scratch.mean, precision, log_const, scale and
// shift_b of scratch.block_shift), and the engine's pattern term for a block
// with a missing value (added after the rest, pattern by pattern). A missing
// discrete value adds nothing. The per-(class, block) parameters and the shifts are read from the scratch.
struct LogJointModel {
  double beta = 1.0;
  const double* log_pi = nullptr;     // K
  const double* log_theta = nullptr;  // K * cat_stride, the views' cells
  std::span<const int> dims;          // D_b
  MissingBlockTerm missing{};
};
void complete_log_joint(const EntryViews& views, const LogJointModel& model,
                        const ClassList& classes, EntryRange range, KernelScratch& scratch,
                        ClassEntryArray out);

// N_k = sum_n c_n r_kn and n_k,cell = sum_n c_n r_kn [x_nj in the cell]
// (missing values left out) of the listed classes over the entries of the
// range, written over n_k and n_cat (n_cat at k * cat_stride).
void class_counts(const EntryViews& views, ConstClassEntryArray resp, const ClassList& classes,
                  EntryRange range, KernelScratch& scratch, double* n_k, double* n_cat);

// S1 += w y and S2_ij += (w y_i) y_j (i <= j, S2 row by row D x D) with
// y = x - centre (centre nullptr: y = x) of block b in the listed classes
// over the entries of the range in entry order, w = c_n r_kn, into
// scratch.s1[k] and scratch.s2[k]. The entries with a missing value in the
// block follow, pattern by pattern and in entry order within a pattern,
// completed from the engine's per-(pattern, class) matrices: missing
// dimensions q at their conditional mean mu_q + R (x_o - mu_o), and, once per
// pattern, (the pattern's sum of w) times cond_scale times C on the missing
// pairs of S2.
struct PatternMoments {
  const double* mean = nullptr;        // D, the whole block's
  const double* regression = nullptr;  // m x o
  const double* cond = nullptr;        // m x m
  double cond_scale = 0.0;
};
struct MissingBlockMoments {
  void (*pattern)(const void* self, int p, int k, PatternMoments* out);
  const void* self;
};
void observed_block_moments(const EntryViews& views, ConstClassEntryArray resp,
                            const ClassList& classes, int b, int d, const double* centre,
                            EntryRange range, KernelScratch& scratch, MissingBlockMoments missing);

// The normaliser of each entry over the listed classes and, when `outside`
// is given, the kept term of the unlisted ones (per entry: their sum, or its
// logarithm; -inf adds nothing):
//   log domain:     ln Z = ln sum exp(w_k - top) + top, top the first
//                   largest of the terms (outside first),
//   normal domain:  Z = sum w_k,
// the terms summed in list order with the outside term first or last. In
// the log domain, without `outside`, a term below negligible_before_top
// (classes up to the first largest) or negligible_after_top (after it) of
// w_k - top adds nothing: thresholds where the term cannot change the sum.
struct NormaliserRules {
  bool log_domain = true;
  bool outside_first = true;
  // Normal domain only: the weights come as their logarithms and the terms
  // are their exponentials (the weights themselves stay as they are).
  bool exponentiate = false;
  double negligible_before_top = -__builtin_inf();
  double negligible_after_top = -__builtin_inf();
};
void entry_normalisers(ConstClassEntryArray weight, const ClassList& classes,
                       const double* outside, const NormaliserRules& rules, EntryRange range,
                       double* norm);

// The responsibility of each listed class for each entry of the range:
//   log domain:     r = exp(w - ln Z), the floor below negligible_log (the
//                   exponential not needed) and at least the floor,
//   normal domain:  r = w / Z when Z > tiny_normaliser, else 0 (w = exp of
//                   the weight when `exponentiate`, as in NormaliserRules).
struct ResponsibilityRules {
  bool log_domain = true;
  double floor = 0.0;
  double negligible_log = -__builtin_inf();
  double tiny_normaliser = 0.0;
  bool exponentiate = false;
  // normalise_entries in the log domain: exp(w - ln Z) itself, a second
  // exponential, instead of the normaliser's own terms (the bits of the two
  // calls).
  bool second_exponential = false;
};
void class_responsibilities(ConstClassEntryArray weight, const ClassList& classes,
                            const double* norm, const ResponsibilityRules& rules,
                            EntryRange range, ClassEntryArray resp);

// The range's sum of count_n times ln Z_n, in entry order from 0.0 (in the
// normal domain ln Z by the kernels' own log and the entries with
// count_n <= 0 left out), and whether every ln Z was finite: what a caller
// that keeps no per-entry normaliser needs of them.
struct NormaliserSum {
  const int* count = nullptr;  // per entry
  double weighted = 0.0;
  bool finite = true;
};

// entry_normalisers and class_responsibilities in one pass over the weights.
// In the log domain the responsibilities come from the normaliser's own
// terms, r = exp(w - top) / sum, which is exp(w - ln Z) up to the last bits
// (the floor and negligible_log still judged on w - ln Z): one exponential
// per class and entry instead of two. The normal domain gives the bits of
// the two calls (with `exponentiate`, those of exp_values on the weights
// before them). `norm` may be null when `sum` is given.
void normalise_entries(ConstClassEntryArray weight, const ClassList& classes,
                       const double* outside, const NormaliserRules& rules,
                       const ResponsibilityRules& resp_rules, EntryRange range, double* norm,
                       ClassEntryArray resp, NormaliserSum* sum = nullptr);


// The kernels' own exponential and logarithm (accuracy in vector_math.h):
// over arrays on the process's instruction set, and one value at a time,
// with the same bits.
void exp_values(const double* x, double* y, size_t n);
void log_values(const double* x, double* y, size_t n);
double exp_value(double x);
double log_value(double x);

// The same sums for one point x of dimension d and one weight (the
// engines' imputations add their completed points with it).
void add_block_moments(const double* x, double w, int d, double* s1, double* s2);

}  // namespace veska
