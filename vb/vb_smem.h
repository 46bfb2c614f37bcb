// Split-and-merge VBEM for one class count: after the restarts, repeatedly
// merge two classes and split a third, trying the candidate triples in the
// order of a merge criterion (Jmerge) and a split criterion (Jsplit), each
// refitted first on its three classes alone (the partial run) and then on
// all of them, and keep the first that raises the free energy enough.
#pragma once

#include <span>
#include <vector>

#include "analysis/memberships.h"
#include "vb/print_vb_smem.h"
#include "vb/vb_driver.h"
#include "vb/vb_state.h"

namespace veska {

// Classes i < j merge into i; class k (neither) splits into j and k.
struct SmemCandidate {
  int i = 0;
  int j = 0;
  int k = 0;
};

// Jmerge(i, j) = sum_n c_n P(i|x_n) P(j|x_n) at index i * K + j (i < j; the
// other entries are 0), divided by the two classes' norms when `normalise`.
std::vector<double> compute_jmerge(const CaseTable& cases, const Memberships& mem, bool normalise);

// Jsplit(k) per class: how badly the predictive density of class k fits the
// cases it holds, from the memberships P(k|x_n) (entries unweighted) and the
// component densities P(x_n|k).
std::vector<double> compute_jsplit(const Memberships& mem);

// The candidate triples in ranking order: merge pairs by Jmerge descending,
// within a pair the split classes by Jsplit descending (ties: smaller
// indices first). Positions are computed on demand, so a large K costs
// memory of the order of K^2, not K^3.
class SmemCandidates {
 public:
  SmemCandidates(int K, const std::vector<double>& jmerge, const std::vector<double>& jsplit);
  long long size() const;  // K (K-1) (K-2) / 2
  SmemCandidate at(long long position) const;

 private:
  int K_;
  std::vector<SmemCandidate> pairs_;  // merge pairs in order (k unused)
  std::vector<int> split_order_;      // every class, best split first
};

// Moves the state to the candidate's starting point: merges i and j into
// i, halves k into j and k, drawing from the process-wide generator (one
// draw per discrete value, one per block component, in that order).
void init_candidate(const VbContext& ctx, VbState& state, const SmemCandidate& candidate);

// The partial run of a candidate on `op`'s histories from index 0: full
// E-step, init_candidate, full E-step, then iterations of the partial steps
// on the three classes until convergence, the limit or a fall of F (which
// only ends the run). Returns the final history index.
int run_partial_vbem(const VbContext& ctx, VbState& state, const SmemCandidate& candidate,
                     SmemOperation& op, int limit);

// One VBEM run on `op`'s histories, as run_vbem but: no "#iters" header, the
// annealing mark only in the restart phase (operation 0), without annealing
// convergence only on a rise of F smaller than --epsilon, and a fall of F
// reported with the operation number. Returns the final history index.
int run_vbem_smem(const VbContext& ctx, VbState& state, int operation, SmemOperation& op, int t0,
                  int limit, double beta_init);

// Every value of the state but its histories and scratch areas, to undo a
// rejected candidate exactly.
struct VbStateSnapshot {
  std::vector<double> values;
};
void take_snapshot(VbState& state, VbStateSnapshot& snapshot);
void restore_snapshot(const VbStateSnapshot& snapshot, VbState& state);

// Operations 1..n_operations from the state (whose free energy is
// f_current): each tries the candidates until one is accepted; the first
// operation that accepts none ends them all. `ops` holds operation 0 and
// gets a record for each operation that runs. Returns the free energy of
// the retained model.
double run_split_merge_operations(const VbContext& ctx, VbState& state, int n_operations,
                                  std::vector<SmemOperation>& ops, double f_current);

// The restarts and the split-and-merge operations for the state's K
// (K >= 3): records the restarts in `fit`, writes SMEM-STAT-EM-K%d,
// FREE-ENERGY-SMEM-K%d and SMEM-STAT-SM-K%d, and leaves the state at the
// last accepted model (the best restart when none was accepted).
void run_split_merge(const VbContext& ctx, VbState& state, ClassCountFit& fit);

}  // namespace veska
