// The hot loops that both clustering engines share, on plain per-class
// arrays: the log joint of entries and classes, the discrete counts, and the
// moments of the observed block values. Each engine keeps its own maths for
// what differs (the terms of blocks with missing values, the normalisers,
// the M-steps and the objectives) and hands it in where the loops meet it.
//
// The classes are taken up to kClassLanes at a time, one class per lane, so
// that one read of an entry serves every class of the chunk. Each lane adds
// its terms in the order of the plain one-class loop, so the results are the
// same bits whatever the width. Nothing here takes memory from the system:
// the scratch is sized once per number of classes.
#pragma once

#include <span>
#include <vector>

#include "data/entry_views.h"
#include "data/read_freq.h"

namespace veska {

constexpr int kClassLanes = 6;

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
//   mean, precision, log_const, scale   per class and block (k * G + b)
//   s1, s2       per class: the block's moment sums being added to
struct KernelScratch {
  std::vector<double> lane_theta;
  std::vector<double> lane_counts;
  std::vector<double> lane_gauss;
  std::vector<size_t> lane_gauss_offset;
  std::vector<double> lane_diff;
  std::vector<const double*> mean;
  std::vector<const double*> precision;
  std::vector<double> log_const;
  std::vector<double> scale;
  std::vector<double> block_shift;
  std::vector<double*> s1;
  std::vector<double*> s2;
  // The engine's own scratch for its missing-value callbacks, sized by the
  // engine; each thread has its own.
  std::vector<double> missing_work;
};

KernelScratch allocate_kernel_scratch(int K, int cat_stride, std::span<const int> dims);

// The term of block b of entry n in class k when the entry misses a value
// of the block (before the factor beta); `self` is the engine's context and
// `work` the calling thread's KernelScratch::missing_work. Callbacks may run
// on several threads at once: they write nothing but `work`.
struct MissingBlockTerm {
  double (*term)(const void* self, int n, int b, int k, double* work);
  const void* self;
};

// The log joint of every entry and listed class:
//   out_kn = beta (ln pi_k + sum_j ln theta_k,x_nj + sum_b [-shift_b + t_kbn])
// with t_kbn = c_kb - (s_kb / 2) (x - m_kb)' P_kb (x - m_kb) for a block
// whose values are all observed (m the mean, P the precision, c the
// constant and s the scale of scratch.mean, precision, log_const, scale and
// shift_b of scratch.block_shift), and the engine's term for a block with a
// missing value. A missing discrete value adds nothing. The per-(class,
// block) parameters and the shifts are read from the scratch.
struct LogJointModel {
  double beta = 1.0;
  const double* log_pi = nullptr;     // K
  const double* log_theta = nullptr;  // K * cat_stride, the views' cells
  std::span<const int> dims;          // D_b
  MissingBlockTerm missing{};
};
void complete_log_joint(const EntryViews& views, const CaseTable& cases, const LogJointModel& model,
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
// scratch.s1[k] and scratch.s2[k]. An entry with a missing value in the
// block goes to the engine's imputation instead, in its place in the order:
// it adds to the s1 and s2 it is given (the same sums) and writes nothing
// else but `work` (see MissingBlockTerm).
struct MissingBlockMoments {
  void (*add)(const void* self, int n, int k, double w, double* s1, double* s2, double* work);
  const void* self;
};
void observed_block_moments(const EntryViews& views, ConstClassEntryArray resp,
                            const ClassList& classes, int b, int d, const double* centre,
                            EntryRange range, KernelScratch& scratch, MissingBlockMoments missing);

// The same sums for one point x of dimension d and one weight (the
// engines' imputations add their completed points with it).
void add_block_moments(const double* x, double w, int d, double* s1, double* s2);

}  // namespace veska
