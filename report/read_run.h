// Readers that turn the files of one run into RunData. Each checks what it
// takes: a missing data matrix, a short row or a field that is not a number
// ends the process with the file, line and matrix named, and status 1.
#pragma once

#include <string>

#include "report/run_data.h"
#include "report/section_file.h"

namespace veska {

// BASE_<kind>.csv, or .txt when only that one exists (csv when neither does).
std::string run_file_name(const std::string& base, const std::string& kind);

// The log: settings, attribute layout, scores, learning curve, restarts and
// cluster sizes. Fills run->chosen_k.
void read_log(const SectionFile& log, RunData* run);
// The hyperparameter file of rumelvb or the parameter file of rumel: class
// weights, value probabilities per discrete attribute, block means and
// standard deviations. Needs the layout and chosen K from read_log.
void read_model(const SectionFile& model, bool parameters, RunData* run);
// The case rows of the cluster file: a deterministic sample of at most
// `max_points` per Gauss block, projected on the block's principal axes when
// it has more than two dimensions. When the run hid the values, they are
// taken from the case file (if it matches the run).
void read_cluster_sample(const std::string& path, const std::string& case_file, long max_points,
                         RunData* run);
void read_evaluation(const SectionFile& eval, RunData* run);
void read_ranking(const std::string& path, int max_ranked, RunData* run);

// All of the above for the files that exist under settings.base; the log is
// required.
RunData read_run(const ReportSettings& settings);

}  // namespace veska
