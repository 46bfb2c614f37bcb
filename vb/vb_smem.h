// The variational engine's side of split-and-merge: the merge criterion
// (Jmerge) and split criterion (Jsplit) of the model, a candidate's starting
// point, the outside sums its partial run keeps, and the exact undo of a
// rejected candidate. The walk over the candidates is the fit driver's.
#pragma once

#include <span>
#include <vector>

#include "analysis/memberships.h"
#include "fit/smem_candidates.h"
#include "vb/vb_state.h"

namespace veska {

// Jmerge(i, j) = sum_n c_n P(i|x_n) P(j|x_n) at index i * K + j (i < j; the
// other entries are 0), divided by the two classes' norms when `normalise`.
std::vector<double> compute_jmerge(const CaseTable& cases, const Memberships& mem, bool normalise);

// Jsplit(k) per class: how badly the predictive density of class k fits the
// cases it holds, from the memberships P(k|x_n) (entries unweighted) and the
// component densities P(x_n|k).
std::vector<double> compute_jsplit(const Memberships& mem);

// Moves the state to the candidate's starting point: merges i and j into
// i, halves k into j and k, drawing from the process-wide generator (one
// draw per discrete value, one per block component, in that order).
void init_candidate(const VbContext& ctx, VbState& state, const SmemCandidate& candidate);

// Expected logs, log rho and ln Z of every class at beta 1.
void full_e_step(const VbContext& ctx, VbState& state);

// Per entry, ln sum of exp(log rho) over the classes outside the triple
// (-infinity when there are none), around the first largest term.
void outside_log_sums(const VbState& state, const SmemCandidate& candidate,
                      std::vector<double>& out);

// The record and the work arrays of the state (all but its shape and
// scratch), to undo a rejected candidate exactly.
struct VbStateSnapshot {
  VbHparams hparams;
  VbWork work;
};
void take_snapshot(const VbState& state, VbStateSnapshot& snapshot);
void restore_snapshot(const VbStateSnapshot& snapshot, VbState& state);

}  // namespace veska
