// rumelreport: one HTML page with the plots of a clustering run.
#include <new>

#include "common/misc.h"
#include "report/html_page.h"
#include "report/read_run.h"
#include "report/report_options.h"

int main(int argc, char** argv) {
  try {
    veska::ReportSettings settings;
    if (veska::parse_report_options(argc, argv, &settings, stdout) == veska::ReportParseResult::kExit) return 0;
    veska::RunData run = veska::read_run(settings);
    veska::write_page(settings.output, veska::render_page(run, settings));
  } catch (const std::bad_alloc&) {
    veska::die_stderr("Couldn't allocate memory (rumelreport,%d)\n", __LINE__);
  }
  return 0;
}
