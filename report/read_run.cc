#include <sys/stat.h>

#include "report/read_run.h"

namespace veska {

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// What the report takes from a log; the verbose dumps (every update's model,
// a row per case and class) are read past.
bool log_matrix_used(std::string_view id) {
  for (std::string_view prefix : {"SETTING-", "SCORE", "SEED", "FREE-ENERGY-", "LOGLIKE-", "CLUSTER-FREQ-", "DATASIZE"}) {
    if (starts_with(id, prefix)) return true;
  }
  return false;
}

}  // namespace

std::string run_file_name(const std::string& base, const std::string& kind) {
  std::string csv = base + "_" + kind + ".csv";
  std::string txt = base + "_" + kind + ".txt";
  return !exists(csv) && exists(txt) ? txt : csv;
}

RunData read_run(const ReportSettings& settings) {
  RunData run;
  run.base = settings.base;
  std::string log_name = run_file_name(settings.base, "log");
  if (!exists(log_name)) {
    // SectionScanner reports the file that cannot be opened.
    SectionScanner missing(log_name);
  }
  read_log(load_section_file(log_name, log_matrix_used), &run);

  bool rumel = run.program == "rumel";
  std::string model_name = run_file_name(settings.base, rumel ? "param" : "hparam");
  if (exists(model_name)) {
    std::string_view prefix = rumel ? "PARAM-" : "HPARAM-";
    read_model(load_section_file(model_name, [&](std::string_view id) { return starts_with(id, prefix); }),
               rumel, &run);
  }
  std::string cluster_name = run_file_name(settings.base, "cluster");
  if (exists(cluster_name)) {
    // The log names the case file as the run saw it, from the run's folder;
    // failing that, beside the run's files.
    std::string case_file = run.case_file;
    if (!case_file.empty() && !exists(case_file)) {
      size_t slash = settings.base.rfind('/'), name = case_file.rfind('/');
      std::string dir = slash == std::string::npos ? "" : settings.base.substr(0, slash + 1);
      case_file = dir + (name == std::string::npos ? case_file : case_file.substr(name + 1));
    }
    read_cluster_sample(cluster_name, case_file, settings.max_points, &run);
  }
  auto all = [](std::string_view) { return true; };
  std::string eval_name = run_file_name(settings.base, "eval");
  if (exists(eval_name)) read_evaluation(load_section_file(eval_name, all), &run);
  std::string rank_name = run_file_name(settings.base, "rank");
  if (exists(rank_name)) {
    read_ranking(rank_name, settings.max_ranked, &run);
  }
  return run;
}

}  // namespace veska
