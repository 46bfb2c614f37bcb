#include "mlmap/run.h"

#include "common/attributes.h"
#include "common/file_names.h"
#include "common/init.h"
#include "common/misc.h"
#include "common/options.h"
#include "common/random.h"
#include "common/settings.h"
#include "common/workers.h"
#include "data/name.h"
#include "mlmap/em_driver.h"
#include "mlmap/param_driver.h"
#include "output/print_common.h"
#include "output/run_setup.h"

namespace veska {

int run_rumel(int argc, char** argv) {
  Settings s = Settings::defaults(Program::kMlMap);  // the default seed is the clock now
  AttrModel model;
  open_work_areas();

  option_pass_target(argc, argv, s);
  option_pass_files(argc, argv, s);
  derive_file_names(s);
  RunStreams streams = open_run_streams(s);

  option_passes_after_open(argc, argv, s);
  validate_settings(s, model);
  fix_conversions(s);
  start_workers(s.threads);

  create_hash_tables(s, model);
  read_names(s, model);
  rng_seed(s.seed);
  print_settings(streams.log, s, model);

  if (s.run_estimation) {
    run_em_driver(s, model);
  } else {
    run_param_driver(s, model);
  }

  close_run_streams(streams);
  free_hash_tables(model);
  close_work_areas();
  return 0;
}

}  // namespace veska
