#include "vb/vb_driver.h"

#include "fit/fit_driver.h"
#include "vb/vb_fit_engine.h"

namespace veska {

void run_class_range(Settings& s, const AttrModel& model, const CaseTable& cases,
                     const SampleStats& stats) {
  VbFitEngine engine(s, model, cases, stats);
  run_fit(s, engine);
}

}  // namespace veska
