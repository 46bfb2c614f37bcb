#include "report/report_options.h"

#include "common/init.h"
#include "common/misc.h"
#include "common/option_scan.h"

namespace veska {

namespace {

enum OptionId { kOptOutput = 1, kOptPoints, kOptHelp };

const OptionSpec kOptions[] = {
    {kOptOutput, "output", 'o', 1},
    {kOptPoints, "points", 'n', 1},
    {kOptHelp, "help", 'h', 0},
    {-1, nullptr, kNoShortLetter, 0},
};

}  // namespace

const char* report_usage_text() {
  return "[Usage] rumelreport OPTIONS BASE\n"
         "Writes BASE_report.html from the files a rumelvb or rumel run wrote under BASE.\n"
         " --output (-o) Report file [Default: BASE_report.html]\n"
         " --points (-n) Most cases drawn per scatter plot [Default: 2000]\n"
         " --help   (-h) Print this message\n";
}

ReportParseResult parse_report_options(int argc, char** argv, ReportSettings* settings, FILE* out) {
  option_scan_reset();
  bool base_given = false;
  for (int id; (id = option_scan_next(argc, argv, kOptions)) != -1;) {
    switch (id) {
      case 0:
        if (base_given) die_stderr("More than one base name: %s (Use -h for usage)\n", option_value());
        settings->base = option_value();
        base_given = true;
        break;
      case kOptOutput:
        settings->output = option_value();
        break;
      case kOptPoints: {
        int n = 0;
        if (!try_parse_int(option_value(), &n) || n < 1) die_stderr("Illegal number of points -- %s\n", option_value());
        settings->max_points = n;
        break;
      }
      case kOptHelp:
        fputs(report_usage_text(), out);
        return ReportParseResult::kExit;
      default:
        die_stderr("Unknown/illegal option specification: %s (Use -h for usage)\n", option_current_word());
    }
  }
  if (!base_given || settings->base.empty()) die_stderr("No base name specified (Use -h for usage)\n");
  if (settings->output.empty()) settings->output = settings->base + "_report.html";
  return ReportParseResult::kRun;
}

}  // namespace veska
