// The data matrices that describe the case table in the log file: the
// answer classes, the value and case frequencies, the data and parameter
// sizes and the missing-value counts.
#pragma once

#include <cstdio>
#include <vector>

#include "common/attributes.h"
#include "common/settings.h"
#include "data/read_freq.h"

namespace veska {

// Right after the case file is read (and its statistics written):
// ANS-CLASS with --eval; with --verbose FREQ-CAT%d per discrete attribute
// and FREQ-CASE. Flushes the log.
void print_case_summaries(FILE* log, const Settings& settings, const AttrModel& model,
                          const CaseTable& table);

// Free parameters of a K-class model, as PARAMSIZE lists them: K - 1 class
// probabilities, K (V - 1) per discrete attribute, K (d + d(d-1)/2) per
// Gaussian block of dimension d.
struct ParamCount {
  long classes = 0;
  long discrete = 0;
  long continuous = 0;
  long total() const { return classes + discrete + continuous; }
};
ParamCount param_count(const AttrModel& model, int K);

// DATASIZE, PARAMSIZE (one row per class count), NUM-MISSING-CAT and
// NUM-MISSING-GAUSS when some such value is missing. Flushes the log.
void print_data_size(FILE* log, const Settings& settings, const AttrModel& model,
                     const CaseTable& table, const std::vector<int>& class_counts);

// AUTO-SMOOTH-CLASS-K%d and, with discrete attributes, AUTO-SMOOTH-CAT-K%d:
// the constants resolve_auto_smoothing just set for K. Flushes the log.
void print_auto_smoothing(FILE* log, const Settings& settings, const AttrModel& model, int K);

// The class counts the estimation tries: Kmin, Kmin + Kstep, ... up to Kmax,
// or the single K.
std::vector<int> class_counts(const Settings& settings);

}  // namespace veska
