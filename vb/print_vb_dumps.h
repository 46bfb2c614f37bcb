// The verbose dumps of the VBEM steps to the log: the expected logs
// (PI-CLASS, PI-CAT%d), log rho (COMP), the log normalisers (INCOMP), the
// responsibilities (COND) and the expected counts (EXPECT-CLASS,
// EXPECT-CAT%d). Each writes the values the step has just computed and
// flushes the file.
#pragma once

#include <cstdio>

#include "vb/vb_state.h"

namespace veska {

void print_expected_logs(FILE* log, const VbContext& ctx, const VbState& state);
void print_complete_prob(FILE* log, const VbContext& ctx, const VbState& state);
void print_log_normalisers(FILE* log, const VbContext& ctx, const VbState& state);
void print_responsibilities(FILE* log, const VbContext& ctx, const VbState& state);
void print_sufficient_stats(FILE* log, const VbContext& ctx, const VbState& state);

}  // namespace veska
