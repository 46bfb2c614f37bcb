// The settings data matrices that open every log file: what was run, on
// which files, with which options. Shared by both clustering programs; the
// few rows that differ follow Settings::program.
#pragma once

#include <cstdio>

#include "common/attributes.h"
#include "common/settings.h"

namespace veska {

// Writes SETTING-VERSION, SETTING-FILE, SETTING-FUNCTION, SETTING-MODEL-BASE
// (and SETTING-MODEL-NAME for rumel), SETTING-MODEL-HPARAM, SETTING-EM,
// SETTING-SELECT, SETTING-RANK, SETTING-DAEM, SETTING-SMEM, SETTING-EVAL,
// SETTING-INOUT and SETTING-MISC, each only when it applies, then flushes.
// Expects validated settings (smoothing constants expanded per discrete
// attribute, file names and formats known).
void print_settings(FILE* log, const Settings& settings, const AttrModel& model);

}  // namespace veska
