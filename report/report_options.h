// The command line of rumelreport.
#pragma once

#include <cstdio>

#include "report/run_data.h"

namespace veska {

enum class ReportParseResult { kRun, kExit };

// Fills *settings; --help writes the usage to `out` and returns kExit. Every
// error ends the process with its message on standard error and status 1.
ReportParseResult parse_report_options(int argc, char** argv, ReportSettings* settings, FILE* out);

const char* report_usage_text();

}  // namespace veska
