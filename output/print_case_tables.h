// The per-case verbose dumps of an E-step, shared by both programs: COMP
// (per class, then case), INCOMP (per case) and COND (per case, then class),
// each with the case ID and, unless hidden, the attribute values.
#pragma once

#include <cstdio>
#include <functional>

#include "common/attributes.h"
#include "common/settings.h"
#include "data/read_freq.h"

namespace veska {

void print_complete_probs(FILE* log, const Settings& settings, const AttrModel& model,
                          const CaseTable& cases, int K,
                          const std::function<double(int k, int n)>& value_of);
void print_incomplete_probs(FILE* log, const Settings& settings, const AttrModel& model,
                            const CaseTable& cases, const std::function<double(int n)>& value_of);
// rumel names the last two columns as one.
void print_conditional_probs(FILE* log, const Settings& settings, const AttrModel& model,
                             const CaseTable& cases, int K,
                             const std::function<double(int k, int n)>& value_of);

}  // namespace veska
