// One VBEM run: from the state's current hyperparameters to convergence or
// an iteration limit, with the annealing schedule of the inverse temperature,
// the per-iteration free-energy (and beta) histories, the progress marks and
// the end-of-run message. A decrease of the free energy ends the program.
#pragma once

#include <vector>

#include "vb/vb_state.h"

namespace veska {

// The two halves of one iteration. The engine's steps by default; tests
// script them to drive the stopping rules.
struct VbemSteps {
  // Responsibilities, sufficient statistics, hyperparameter update.
  void (*update)(const VbContext& ctx, VbState& state);
  // E-step at state.beta (tempered forms when annealing and beta < 1), then
  // the free energy, which it returns.
  double (*evaluate)(const VbContext& ctx, VbState& state);
};

const VbemSteps& vbem_steps();

// Capacity given to a history that was never sized; a history doubles
// whenever an index reaches its capacity.
constexpr int kHistoryCapacity = 10000;

// Where a run keeps its histories and how it reports: the restarts keep them
// in the state and report a fall of F by restart; a split-and-merge
// operation keeps its own and reports by operation number.
struct RunTrace {
  std::vector<double>* fe_history;
  std::vector<double>* beta_history;  // with annealing
  const char* op_label;  // "Restart" or "SplitMergeOperation", for the log
  int op;
  // Split-and-merge: the "*" of a new temperature only in the restart phase
  // (op 0), and without annealing convergence only on a rise of F, so a fall
  // within rounding does not end the run.
  bool smem = false;
};

// The restarts' trace: the state's own histories.
RunTrace restart_trace(VbState& state, int restart);

// Runs from history index t0 with the given limit (without annealing it
// bounds the history index; with annealing, the iterations of each
// temperature pass) and initial inverse temperature. Returns the final
// history index t'; the run's free energy is fe_history[t'] and its final
// inverse temperature state.beta. Writes the "#iters" header first, with the
// restart index when several restarts are requested.
int run_vbem(const VbContext& ctx, VbState& state, int restart, int t0, int limit,
             double beta_init, const VbemSteps& steps = vbem_steps());

// The loop itself, on any trace and without the header.
int run_vbem_traced(const VbContext& ctx, VbState& state, const RunTrace& trace, int t0,
                    int limit, double beta_init, const VbemSteps& steps = vbem_steps());

// F (and beta) at index t of the trace's histories, which double when t
// reaches their capacity. The only allocation of a run.
void record_history(const VbContext& ctx, const VbState& state, const RunTrace& trace, int t,
                    double f);

// Ends the program (ERR-MSG-DECREASE in the log, message, status 1) when the
// free energy fell by more than 1.0e-6 from index t-1 to t within one
// temperature.
void check_free_energy_decrease(const VbContext& ctx, VbState& state, int restart, int t);
void check_free_energy_decrease(const VbContext& ctx, const VbState& state,
                                const RunTrace& trace, int t);

}  // namespace veska
