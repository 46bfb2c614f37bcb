#include "vb/run.h"

#include <cstdio>

#include "common/attributes.h"
#include "common/file_names.h"
#include "common/hash.h"
#include "common/init.h"
#include "common/matrix_store.h"
#include "common/misc.h"
#include "common/options.h"
#include "common/random.h"
#include "common/settings.h"
#include "data/name.h"
#include "data/read_freq.h"
#include "data/stat.h"
#include "output/print_common.h"
#include "output/print_data.h"
#include "output/print_stat.h"
#include "output/section_writer.h"
#include "vb/vb_driver.h"
#include "vb/vb_read_hparam.h"

namespace veska {

namespace {

// What the run owns from start to end.
struct Run {
  Settings settings = Settings::defaults(Program::kVb);  // the default seed is the clock now
  AttrModel model;
  FILE* log = nullptr;
  FILE* msg = nullptr;  // the --save-msg file; standard error otherwise
};

FILE* open_for_writing(const std::string& name) {
  // Binary: every line end is written as CR LF by the conversions themselves.
  FILE* f = fopen(name.c_str(), "wb");
  if (f == nullptr) die_stderr("Couldn't open %s\n", name.c_str());
  return f;
}

void open_streams(Run& run) {
  run.log = open_for_writing(run.settings.files.log);
  set_log_stream(run.log);
  if (run.settings.save_msg) {
    run.msg = open_for_writing(run.settings.files.msg);
    set_msg_stream(run.msg);
  }
}

void print_version(Program program) {
  FILE* msg = msg_stream();
  fputs(conv_msg(version_line(program).c_str()), msg);
  fflush(msg);
}

// The conversions follow the final options: digits of reals and the
// delimiter of the output files.
void fix_conversions(const Settings& s) {
  set_conv_precision(s.prec_msg, s.prec_out);
  set_output_delimiter(s.output_format == Format::kTxt ? '\t' : ',');
}

// The string tables that reading fills.
void create_hash_tables(Run& run) {
  const Settings& s = run.settings;
  create_value_tables(run.model);
  for (DiscreteValues& v : run.model.values) strtab_init(v.table);
  if (s.id_given) strtab_init(run.model.case_ids);
  if (s.eval_given) strtab_init(run.model.answer_classes);
}

void free_hash_tables(Run& run) {
  for (DiscreteValues& v : run.model.values) strtab_free(v.table);
  strtab_free(run.model.case_ids);
  strtab_free(run.model.answer_classes);
}

// Fits every K of the range and analyses the chosen model.
void run_estimation_branch(Run& run) {
  CaseTable cases = read_cases(run.settings, run.model);
  SampleStats stats = compute_statistics(run.settings, run.model, cases);
  print_statistics(run.log, run.settings, run.model, stats);
  print_case_summaries(run.log, run.settings, run.model, cases);
  print_data_size(run.log, run.settings, run.model, cases, class_counts(run.settings));
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

  if (!conv_buffers_init()) die_stderr("Couldn't allocate memory for buffers\n");
  section_writer_init();
  store_init();

  // Only what must be known before any file is opened.
  option_pass_target(argc, argv, s);
  option_pass_files(argc, argv, s);
  derive_file_names(s);
  open_streams(run);
  print_version(s.program);

  option_passes_after_open(argc, argv, s);
  validate_settings(s, run.model);
  fix_conversions(s);

  create_hash_tables(run);
  read_names(s, run.model);
  rng_seed(s.seed);
  print_settings(run.log, s, run.model);

  if (s.run_estimation) {
    run_estimation_branch(run);
  } else {
    run_read_hparam_branch(run);
  }

  fclose(run.log);
  set_log_stream(nullptr);
  free_hash_tables(run);
  store_shutdown();
  conv_buffers_free();
  section_writer_free();
  return 0;
}

}  // namespace veska
