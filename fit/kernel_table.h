// The kernels of one instruction set: fit/kernel_bodies.h compiled once per
// vector width in its own translation unit (kernels_sse2.cc, kernels_avx2.cc,
// kernels_avx512.cc). Every table computes the same bits; fit/isa picks the
// one the process uses.
#pragma once

#include <cstddef>

#include "fit/kernels.h"

namespace veska {

struct KernelTable {
  const char* name;
  int lanes;  // doubles per vector
  void (*complete_log_joint)(const EntryViews&, const LogJointModel&,
                             const ClassList&, EntryRange, KernelScratch&, ClassEntryArray);
  void (*class_counts)(const EntryViews&, ConstClassEntryArray, const ClassList&, EntryRange,
                       KernelScratch&, double*, double*);
  void (*observed_block_moments)(const EntryViews&, ConstClassEntryArray, const ClassList&, int,
                                 int, const double*, EntryRange, KernelScratch&,
                                 MissingBlockMoments);
  void (*entry_normalisers)(ConstClassEntryArray, const ClassList&, const double*,
                            const NormaliserRules&, EntryRange, double*,
                            const ResponsibilityRules*, ClassEntryArray, NormaliserSum*);
  void (*class_responsibilities)(ConstClassEntryArray, const ClassList&, const double*,
                                 const ResponsibilityRules&, EntryRange, ClassEntryArray);
  void (*exp_values)(const double*, double*, size_t);
  void (*log_values)(const double*, double*, size_t);
};

extern const KernelTable kSse2Kernels;
extern const KernelTable kAvx2Kernels;
extern const KernelTable kAvx512Kernels;

}  // namespace veska
