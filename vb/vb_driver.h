// The estimation branch of rumelvb: the fit driver over the variational
// engine. Every class count K of the requested range is fitted with random
// restarts (or split-and-merge), the K of largest variational free energy is
// kept, its hyperparameters are written to the hyperparameter file and the
// post-analysis runs on it.
#pragma once

#include "common/attributes.h"
#include "common/settings.h"
#include "data/read_freq.h"
#include "data/stat.h"

namespace veska {

// On the cases (read, with their statistics and data-size sections written,
// by the caller). `settings` gets the "auto" smoothing constants of each K.
void run_class_range(Settings& settings, const AttrModel& model, const CaseTable& cases,
                     const SampleStats& stats);

}  // namespace veska
