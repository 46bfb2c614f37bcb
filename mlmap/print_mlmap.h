// The data matrices of the ML/MAP fit: learning curves, the decrease
// report, the scores of the class counts, the parameter sections (the
// parameter file and the verbose dumps) and the per-step verbose dumps of
// the EM iteration. SEED and AUTO-SMOOTH-* are the shared printers of fit/
// and output/.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "fit/fit_engine.h"
#include "mlmap/ml_params.h"

namespace veska {

// LOGLIKE-K%d: L[t], with MAP LP[t] and O[t], with annealing the inverse
// temperature, for history indices 0..t of the kept run.
void print_loglike(FILE* log, int K, const FitHistory& h, bool map, bool daem, int t);

// ERR-MSG-DECREASE in the words of the objective (MAP or ML).
void print_ml_decrease(FILE* log, int K, const FitDecrease& d, bool map);

// SCORE: BIC and the Cheeseman-Stutz value ("N/A" where not computed).
struct MlScoreRow {
  int K = 0;
  double bic = 0.0;
  bool cs_computed = false;
  double cs = 0.0;
};
void print_ml_score(FILE* log, const std::vector<MlScoreRow>& rows, const std::string& criterion,
                    int k_opt);

// PARAM-CLASS, PARAM-CAT%d, then per block PARAM-GAUSS-MEAN%d and
// PARAM-GAUSS-COVAR%d: the parameter file, and the verbose dumps. Flushes.
void print_params(FILE* file, const AttrModel& model, const MlLayout& layout,
                  const MlParams& params);

// Verbose dumps of one step: COMP (the joint weights), INCOMP (the
// normalisers), COND (the responsibilities), and the expected statistics
// EXPECT-CLASS, EXPECT-CAT%d, EXPECT-GAUSS-MEAN%d, EXPECT-GAUSS-COVAR%d.
void print_joint(FILE* log, const MlContext& ctx, const MlLayout& layout, const MlWork& work);
void print_normalisers(FILE* log, const MlContext& ctx, const MlWork& work);
void print_ml_responsibilities(FILE* log, const MlContext& ctx, const MlLayout& layout,
                               const MlWork& work);
void print_expected_stats(FILE* log, const AttrModel& model, const MlLayout& layout,
                          const MlWork& work);

}  // namespace veska
