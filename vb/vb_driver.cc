#include "vb/vb_driver.h"

#include "fit/fit_driver.h"
#include "vb/vb_fit_engine.h"

namespace veska {

void run_class_range(Settings& s, const AttrModel& model, const CaseTable& cases,
                     const SampleStats& stats) {
  // One set of entry views serves every K, its restarts and the chosen K.
  const EntryViews views = build_entry_views(cases, model);
  VbFitEngine engine(s, model, cases, stats, views);
  run_fit(s, engine);
}

}  // namespace veska
