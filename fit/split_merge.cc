#include "fit/split_merge.h"

#include <new>

#include "common/misc.h"
#include "fit/fit_driver.h"
#include "fit/run_loop.h"

namespace veska {

namespace {

// A fall of the objective no larger than this is rounding.
constexpr double kTolerance = 1.0e-6;

RunPlace smem_place(SmemOperation& op, int operation) {
  return RunPlace{&op.history, "SplitMergeOperation", operation, true};
}

// The candidate's three class probabilities.
struct TripleProbs {
  double i, j, k;
};

TripleProbs triple_probs(const std::vector<double>& p, const SmemCandidate& c) {
  return {p[static_cast<size_t>(c.i)], p[static_cast<size_t>(c.j)], p[static_cast<size_t>(c.k)]};
}

bool skipped(const Settings& s, int split_run, const TripleProbs& p) {
  if (s.n_jsplit > 0 && split_run >= s.n_jsplit) return true;
  const double m = s.min_c_param;
  return m > 0.0 && ((p.i < m && p.j < m) || p.k < m);
}

void print_outcome(const char* verdict, const char* letter, const SmemCandidate& c, double o_new,
                   double o_cur) {
  msg_printf("    -- %s [%d,%d]->[%d] & [%d]->[%d,%d] (%s current: %.Nf / last: %.Nf)\n", verdict,
             c.i, c.j, c.i, c.k, c.j, c.k, letter, o_new, o_cur);
}

// One operation: tries the candidates in order until one is accepted
// (returns true, the objective in *o_cur) or the list or the --n-cand limit
// ends.
bool run_operation(const Settings& s, FitEngine& engine, int o, SmemOperation& op, int limit,
                   double* o_cur) {
  const FitRules& rules = engine.rules();
  const char* letter = engine.texts().objective_letter;
  const int K = engine.classes();
  engine.save(FitSlot::kBeforeCandidate);
  const SmemCriteria crit = engine.smem_criteria();
  const SmemCandidates list(K, crit.jmerge, crit.jsplit);

  int split_run = 0;
  long long examined = 0;
  SmemCandidate last;
  for (long long kc = 0;; ++kc) {
    if (kc == list.size() || (s.n_cand > 0 && examined >= s.n_cand)) {
      if (kc == list.size()) {
        msg_printf("  [Op=%d]\n  <<All candidates are rejected>>\n", o);
      } else {
        msg_printf("  [Op=%d]\n  <<The number of rejected split-merge candidates reached the limit>>\n", o);
      }
      engine.drop(FitSlot::kBeforeCandidate);
      return false;
    }
    const SmemCandidate c = list.at(kc);
    split_run = (kc == 0 || c.i != last.i || c.j != last.j) ? 0 : split_run + 1;
    last = c;
    if (skipped(s, split_run, triple_probs(crit.class_probs, c))) {
      ++op.ignored;
      continue;
    }

    msg_printf("  [Op=%d]\n    Candidate %lld (%lld not skipped): Jmerge(%d,%d)=%.Nf / Jsplit(%d)=%.Nf\n",
               o, kc, examined, c.i, c.j, crit.jmerge[static_cast<size_t>(c.i) * K + c.j], c.k,
               crit.jsplit[static_cast<size_t>(c.k)]);
    msg_printf("    #iters ");
    const int partial = run_partial(s, engine, c, op.history, limit);
    const RunPlace place = smem_place(op, o);
    if (rules.smem_full_run_evaluates || partial == 0) evaluate_start(s, engine, place, partial, 1.0);
    const int q = run_stages(s, engine, place, partial, limit, 1.0).t;
    const double o_new = op.history.at(q);
    const double gain = o_new - *o_cur;
    const TripleProbs p =
        triple_probs(rules.smem_accept_probs_after_run ? engine.class_probs() : crit.class_probs, c);
    const double m = s.min_new_c_param;
    const bool probable = m <= 0.0 || (p.i > m && p.j > m && p.k > m);
    if (o_new > *o_cur && gain > s.min_sm_imp && probable) {
      print_outcome("Accepted", letter, c, o_new, *o_cur);
      op.partial_updates = partial;
      op.updates = q;
      *o_cur = o_new;
      engine.drop(FitSlot::kBeforeCandidate);
      return true;
    }
    print_outcome("Rejected", letter, c, o_new, *o_cur);
    if (o_new <= *o_cur) {
      msg_printf("       <No improvement>\n");
    } else if (gain <= s.min_sm_imp) {
      msg_printf("       <Too small improvement: %.Ne>\n", gain);
    } else {
      msg_printf("       <Too small split/merged class probabilities: %d - %.Nf, %d - %.Nf, %d - %.Nf>\n",
                 c.i, p.i, c.j, p.j, c.k, p.k);
    }
    ++op.rejected;
    engine.restore(FitSlot::kBeforeCandidate);
    ++examined;
  }
}

}  // namespace

SmemLimits smem_limits(const Settings& s, const FitRules& rules) {
  SmemLimits l;
  l.candidate = full_limit(s);
  // Unlike plain restarts, a restart limit above the full one is kept.
  l.restart = (s.restarts >= 2 && s.max_iter_restart >= 1) ? s.max_iter_restart : l.candidate;
  if (rules.smem_restart_limit_everywhere) l.candidate = l.restart;
  return l;
}

double run_restart_phase(const Settings& s, FitEngine& engine, ClassCountFit& fit,
                         SmemOperation& op, int limit) {
  op.updates = run_restart_loop(s, engine, fit, op.history, limit, true).t;
  return op.history.at(op.updates);
}

int run_partial(const Settings& s, FitEngine& engine, const SmemCandidate& c, FitHistory& h,
                int limit) {
  const bool daem = s.daem;
  const bool parts = engine.rules().keep_parts;
  h.record(0, engine.partial_start(c), 1.0, daem, parts);
  progress_mark(0);
  for (int t = 0;; ++t) {
    if (!engine.partial_update(c, t, h.at(t))) return t;
    const int next = t + 1;
    h.record(next, engine.partial_evaluate(c), 1.0, daem, parts);
    progress_mark(next);
    const double last = h.at(t);
    const double curr = h.at(next);
    if (last - curr > kTolerance) {
      msg_printf(engine.texts().partial_decrease_format, next, curr, last, last - curr);
      return next;
    }
    if (next >= limit) {
      msg_printf("(S:%d)", next);
      return next;
    }
    if (curr - last < s.epsilon) {
      msg_printf("(C:%d)", next);
      return next;
    }
  }
}

double run_split_merge_operations(const Settings& s, FitEngine& engine, int n_operations,
                                  std::vector<SmemOperation>& ops, double o_current) {
  const int limit = smem_limits(s, engine.rules()).candidate;
  const bool parts = engine.rules().keep_parts;
  double o_cur = o_current;
  for (long long i = 1; i <= n_operations; ++i) {  // n_operations may be the largest int
    const int o = static_cast<int>(i);
    // Records only for the operations that run: --n-sm may be far more.
    ops.resize(static_cast<size_t>(o) + 1);
    SmemOperation& op = ops[static_cast<size_t>(o)];
    const bool accepted = run_operation(s, engine, o, op, limit, &o_cur);
    // Keep only the retained run's history.
    if (accepted) {
      op.history.trim(op.updates, s.daem, parts);
    } else {
      op.history.clear();
    }
    if (!accepted) break;
  }
  return o_cur;
}

void run_split_merge(const Settings& s, FitEngine& engine, ClassCountFit& fit) {
  // The copies and the candidate pairs grow with K x M and K^2: too large a
  // model ends like any allocation.
  try {
    std::vector<SmemOperation> ops(1);
    const double o_best =
        run_restart_phase(s, engine, fit, ops[0], smem_limits(s, engine.rules()).restart);
    run_split_merge_operations(s, engine, s.n_sm, ops, o_best);
    engine.write_smem(s.n_sm, ops);
  } catch (const std::bad_alloc&) {
    die_stderr("%s", engine.texts().smem_alloc_failure);
  }
}

}  // namespace veska
