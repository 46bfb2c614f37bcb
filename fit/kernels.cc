#include "fit/kernels.h"

#include <algorithm>

#include "fit/isa.h"
#include "fit/vector_math.h"

namespace veska {

KernelScratch allocate_kernel_scratch(int K, int cat_stride, std::span<const int> dims) {
  KernelScratch s;
  const size_t width = static_cast<size_t>(kClassLanes);
  s.lane_theta.assign(static_cast<size_t>(cat_stride) * width, 0.0);
  s.lane_counts.assign(static_cast<size_t>(cat_stride) * width, 0.0);
  size_t gauss = 0;
  int max_dim = 0;
  for (int d : dims) {
    s.lane_gauss_offset.push_back(gauss);
    gauss += static_cast<size_t>(d + d * d + 2) * width;
    max_dim = std::max(max_dim, d);
  }
  s.lane_gauss.assign(gauss, 0.0);
  s.lane_diff.assign(static_cast<size_t>(max_dim) * width, 0.0);
  size_t all_dims = 0;
  for (int d : dims) all_dims += static_cast<size_t>(d);
  s.entry_lanes.assign(all_dims * kVectorLanes, 0.0);
  const size_t md = static_cast<size_t>(max_dim);
  s.lane_pattern.assign((2 * md + md * md + 3) * width + 2 * md, 0.0);
  const size_t kb = static_cast<size_t>(K) * dims.size();
  s.mean.assign(kb, nullptr);
  s.precision.assign(kb, nullptr);
  s.log_const.assign(kb, 0.0);
  s.scale.assign(kb, 0.0);
  s.block_shift.assign(dims.size(), 0.0);
  s.s1.assign(static_cast<size_t>(K), nullptr);
  s.s2.assign(static_cast<size_t>(K), nullptr);
  return s;
}

void complete_log_joint(const EntryViews& views, const LogJointModel& model,
                        const ClassList& classes, EntryRange range, KernelScratch& scratch,
                        ClassEntryArray out) {
  active_kernels().complete_log_joint(views, model, classes, range, scratch, out);
}

void class_counts(const EntryViews& views, ConstClassEntryArray resp, const ClassList& classes,
                  EntryRange range, KernelScratch& scratch, double* n_k, double* n_cat) {
  active_kernels().class_counts(views, resp, classes, range, scratch, n_k, n_cat);
}

void observed_block_moments(const EntryViews& views, ConstClassEntryArray resp,
                            const ClassList& classes, int b, int d, const double* centre,
                            EntryRange range, KernelScratch& scratch, MissingBlockMoments missing) {
  active_kernels().observed_block_moments(views, resp, classes, b, d, centre, range, scratch,
                                          missing);
}

void entry_normalisers(ConstClassEntryArray weight, const ClassList& classes,
                       const double* outside, const NormaliserRules& rules, EntryRange range,
                       double* norm) {
  active_kernels().entry_normalisers(weight, classes, outside, rules, range, norm, nullptr,
                                     ClassEntryArray{nullptr, 0, 0}, nullptr);
}

void normalise_entries(ConstClassEntryArray weight, const ClassList& classes,
                       const double* outside, const NormaliserRules& rules,
                       const ResponsibilityRules& resp_rules, EntryRange range, double* norm,
                       ClassEntryArray resp, NormaliserSum* sum) {
  active_kernels().entry_normalisers(weight, classes, outside, rules, range, norm, &resp_rules,
                                     resp, sum);
}

void class_responsibilities(ConstClassEntryArray weight, const ClassList& classes,
                            const double* norm, const ResponsibilityRules& rules,
                            EntryRange range, ClassEntryArray resp) {
  active_kernels().class_responsibilities(weight, classes, norm, rules, range, resp);
}

void exp_values(const double* x, double* y, size_t n) { active_kernels().exp_values(x, y, n); }

void log_values(const double* x, double* y, size_t n) { active_kernels().log_values(x, y, n); }

double exp_value(double x) { return exp_lanes<1>(Lanes<1>::D{x})[0]; }

double log_value(double x) { return log_lanes<1>(Lanes<1>::D{x})[0]; }

void add_block_moments(const double* x, double w, int d, double* s1, double* s2) {
  for (int i = 0; i < d; ++i) {
    const double wx = w * x[i];
    s1[i] += wx;
    double* row = s2 + static_cast<size_t>(i) * d;
    for (int j = i; j < d; ++j) row[j] += wx * x[j];
  }
}

}  // namespace veska
