#include "mlmap/em_driver.h"

#include <cstdio>
#include <optional>

#include "analysis/cluster.h"
#include "analysis/print_membership.h"
#include "analysis/rank.h"
#include "common/misc.h"
#include "data/read_freq.h"
#include "data/read_hparam.h"
#include "data/stat.h"
#include "mlmap/ml_engine.h"
#include "mlmap/ml_fit.h"
#include "output/print_data.h"
#include "output/print_stat.h"

namespace veska {

namespace {

struct Scored {
  MlScoreRow row;
  double selected = 0.0;
};

// BIC, the Cheeseman-Stutz score when every prior is proper, and the one
// the settings select.
Scored score(const Settings& s, MlEngine& engine) {
  Scored sc;
  sc.row.K = engine.K();
  sc.row.bic = engine.bic();
  std::optional<double> cs = engine.cheeseman_stutz();
  sc.row.cs_computed = cs.has_value();
  if (cs) sc.row.cs = *cs;
  sc.selected = s.score == kScoreCs ? sc.row.cs : sc.row.bic;
  return sc;
}

void write_param_file(const Settings& s, const MlEngine& engine) {
  FILE* f = fopen(s.files.param.c_str(), "wb");
  if (f == nullptr) die("Couldn't open %s\n", s.files.param.c_str());
  engine.print_current_params(f);
  fclose(f);
}

void run_post_analysis(const Settings& s, const AttrModel& model, const CaseTable& cases,
                       MlEngine& engine) {
  const Memberships mem = engine.memberships();
  const AnalysisInput in{s, model, cases, mem};
  if (s.verbose) {
    print_member_case(log_stream(), in);
    print_member_attributes(log_stream(), in);
  }
  if (s.mem_prob) write_membership_file(in);
  cluster_cases(in);
  if (s.rank_given) rank_relevant(in);
}

}  // namespace

void run_em_driver(Settings& s, AttrModel& model) {
  StoredHparams hparams;
  if (s.read_hparam) hparams = read_hparam(s, model);
  CaseTable cases = read_cases(s, model);
  SampleStats stats = compute_statistics(s, model, cases);
  FILE* log = log_stream();
  print_statistics(log, s, model, stats);
  print_case_summaries(log, s, model, cases);

  MlEngine engine(s, model, cases, stats, s.read_hparam ? &hparams : nullptr);
  const bool range = s.k_range_given && !s.read_hparam;
  const std::vector<int> ks = s.read_hparam ? std::vector<int>{hparams.K} : class_counts(s);
  std::vector<MlClassCountFit> fits(ks.size());
  std::vector<MlScoreRow> rows(ks.size());
  int k_opt = ks[0];

  if (range) {
    print_data_size(log, s, model, cases, ks);
    MlParams opt;  // the parameters of the best K so far
    double best = 0.0;
    for (size_t i = 0; i < ks.size(); ++i) {
      msg_printf("|Classes| = %d:\n", ks[i]);
      engine.start_class_count(ks[i]);
      fit_class_count(engine, fits[i]);
      const Scored sc = score(s, engine);
      rows[i] = sc.row;
      // Ties keep the smaller class count.
      if (i == 0 || sc.selected > best) {
        msg_printf("  %s = %.Nf (temporarily optimal)\n", s.score_name.c_str(), sc.selected);
        best = sc.selected;
        k_opt = ks[i];
        opt = engine.params();
      } else {
        msg_printf("  %s = %.Nf\n", s.score_name.c_str(), sc.selected);
      }
    }
    msg_printf("Optimal |Classes| = %d\n", k_opt);
    engine.start_class_count(k_opt, false);
    engine.set_params(opt);
  } else {
    engine.start_class_count(ks[0]);
    print_data_size(log, s, model, cases, ks);
    msg_printf("#classes = %d:\n", ks[0]);
    fit_class_count(engine, fits[0]);
    const Scored sc = score(s, engine);
    rows[0] = sc.row;
    msg_printf("  %s = %.Nf\n", s.score_name.c_str(), sc.selected);
  }

  print_ml_score(log, rows, s.score_name, k_opt);
  for (const MlClassCountFit& fit : fits) {
    print_ml_seeds(log, range, fit.K, fit.best_restart, fit.runs, s.any_smoothing);
  }
  if (s.verbose) engine.print_current_params(log);
  write_param_file(s, engine);
  run_post_analysis(s, model, cases, engine);
  free_statistics(stats);
}

}  // namespace veska
