#include "mlmap/em_driver.h"

#include "common/misc.h"
#include "data/read_freq.h"
#include "data/read_hparam.h"
#include "data/stat.h"
#include "fit/fit_driver.h"
#include "mlmap/ml_fit_engine.h"
#include "output/print_data.h"
#include "output/print_stat.h"

namespace veska {

void run_em_driver(Settings& s, AttrModel& model) {
  StoredHparams hparams;
  if (s.read_hparam) {
    hparams = read_hparam(s, model);
    // The file's class count, whatever -k said.
    s.n_class = hparams.K;
    s.k_range_given = false;
  }
  CaseTable cases = read_cases(s, model);
  SampleStats stats = compute_statistics(s, model, cases);
  FILE* log = log_stream();
  print_statistics(log, s, model, stats);
  print_case_summaries(log, s, model, cases);
  {
    MlFitEngine engine(s, model, cases, stats, s.read_hparam ? &hparams : nullptr);
    // One class count has its constants resolved before the data sizes.
    if (!s.k_range_given) engine.resolve_early(s.n_class);
    print_data_size(log, s, model, cases, class_counts(s));
    run_fit(s, engine);
  }
  free_statistics(stats);
}

}  // namespace veska
