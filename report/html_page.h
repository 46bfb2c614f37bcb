// The report page: one self-contained HTML file, inline SVG and CSS, no
// script, readable offline and in print.
#pragma once

#include <string>

#include "report/run_data.h"

namespace veska {

std::string render_page(const RunData& run, const ReportSettings& settings);

// Writes the page beside its final name first and renames it, so a failed
// run never leaves half a page behind.
void write_page(const std::string& path, const std::string& page);

}  // namespace veska
