#include "vb/run.h"

#include <cstdio>

#include "common/attributes.h"
#include "common/file_names.h"
#include "common/init.h"
#include "common/misc.h"
#include "common/options.h"
#include "common/random.h"
#include "common/settings.h"
#include "common/workers.h"
#include "data/name.h"
#include "data/read_freq.h"
#include "data/stat.h"
#include "output/print_common.h"
#include "output/print_data.h"
#include "output/print_stat.h"
#include "output/run_setup.h"
#include "vb/vb_driver.h"
#include "vb/vb_read_hparam.h"

namespace veska {

namespace {

// What the run owns from start to end.
struct Run {
  Settings settings = Settings::defaults(Program::kVb);  // the default seed is the clock now
  AttrModel model;
  RunStreams streams;
};

// Fits every K of the range and analyses the chosen model.
void run_estimation_branch(Run& run) {
  CaseTable cases = read_cases(run.settings, run.model);
  SampleStats stats = compute_statistics(run.settings, run.model, cases);
  print_statistics(run.streams.log, run.settings, run.model, stats);
  print_case_summaries(run.streams.log, run.settings, run.model, cases);
  print_data_size(run.streams.log, run.settings, run.model, cases, class_counts(run.settings));
  // Every K, the selected model's hyperparameters, then memberships,
  // predictive distributions, clusters, evaluation and rankings.
  run_class_range(run.settings, run.model, cases, stats);
  free_statistics(stats);
}

// Reads the hyperparameter file instead of fitting, then the same analysis.
void run_read_hparam_branch(Run& run) { run_read_hparam(run.settings, run.model); }

}  // namespace

int run_rumelvb(int argc, char** argv) {
  Run run;
  Settings& s = run.settings;

  open_work_areas();

  // Only what must be known before any file is opened.
  option_pass_target(argc, argv, s);
  option_pass_files(argc, argv, s);
  derive_file_names(s);
  run.streams = open_run_streams(s);

  option_passes_after_open(argc, argv, s);
  validate_settings(s, run.model);
  fix_conversions(s);
  start_workers(s.threads);

  create_hash_tables(s, run.model);
  read_names(s, run.model);
  rng_seed(s.seed);
  print_settings(run.streams.log, s, run.model);

  if (s.run_estimation) {
    run_estimation_branch(run);
  } else {
    run_read_hparam_branch(run);
  }

  close_run_streams(run.streams);
  free_hash_tables(run.model);
  close_work_areas();
  return 0;
}

}  // namespace veska
