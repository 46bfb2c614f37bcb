// The read-hparam branch of rumelvb: the model comes from a hyperparameter
// file that an earlier run wrote, and the cases are described by it without
// any estimation.
#pragma once

#include "common/attributes.h"
#include "common/settings.h"
#include "data/read_hparam.h"
#include "vb/vb_membership.h"
#include "vb/vb_state.h"

namespace veska {

// Stops the run when the stored model cannot give predictive distributions:
// a pseudo count that is not positive, pseudo counts whose sum is not finite,
// or a covariance that is not positive definite.
void check_stored_model(const Settings& settings, const AttrModel& model, const StoredHparams& h);

// Puts a checked model into a state allocated for its K: the prior slots
// (delta0, delta0_cat, mu0, Sigma0 with W0 and |Sigma0|) take the stored
// values and, since no update ever runs, so do the posterior slots that the
// predictive computations read.
void load_stored_hparams(const StoredHparams& h, VbState& state);

// The stored Tau and Alpha, in the places of tau_k and alpha_kb.
VbPredictiveScalars stored_scalars(const StoredHparams& h);

// The whole branch: the hyperparameter file (ATTVAL%d with --verbose), the
// cases with their data matrices, the data-size data matrices, then
// memberships, clusters, evaluation and rankings. Writes no hyperparameter
// and no predictive file.
void run_read_hparam(Settings& settings, AttrModel& model);

}  // namespace veska
