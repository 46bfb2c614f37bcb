#include "mlmap/print_mlmap.h"

#include <initializer_list>
#include <vector>

#include "analysis/print_membership.h"
#include "fit/kernels.h"
#include "output/print_case_tables.h"
#include "output/print_fit_tables.h"
#include "output/print_value_table.h"
#include "output/section_writer.h"

namespace veska {

namespace {

// One value per class and value of each discrete attribute (flat layout of
// the model).
void print_cat_values(FILE* file, const AttrModel& model, const MlLayout& l, const char* id_format,
                      const char* column_format, const std::vector<double>& values) {
  for (int pos = 0; pos < model.n_discrete; ++pos) {
    print_value_table(file, id_format, column_format, model, pos, l.K,
                      [&](int k, int code) { return values[l.cat(k, pos, code)]; });
  }
}

void print_means(FILE* file, const AttrModel& model, const MlLayout& l, const char* id_format,
                 bool class_first, int g, const std::vector<double>& values) {
  print_block_means(file, id_format, model, g, l.K, class_first,
                    [&](int k, int a) { return values[l.mean(k, g) + a]; });
}

// Upper triangle, row by row.
void print_covars(FILE* file, const AttrModel& model, const MlLayout& l, const char* id_format,
                  bool class_first, int g, const std::vector<double>& values) {
  const int d = l.dims[g];
  print_block_covariances(file, id_format, model, g, l.K, class_first, [&](int k, int a, int b) {
    return values[l.covar(k, g) + a * d + b];
  });
}

}  // namespace

namespace {

void loglike_columns(bool map, bool daem) {
  add_column_name("Num. of updates");
  add_column_name("Log likelihood");
  if (map) {
    add_column_name("Log prior prob.");
    add_column_name("Log a posteriori prob.");
  }
  if (daem) add_column_name("Inverse temperature");
}

// Rows of history indices 0..t, after the leading fields `lead` of each.
void loglike_rows(FILE* log, const FitHistory& h, bool map, bool daem, int t,
                  std::initializer_list<int> lead) {
  for (int i = 0; i <= t; ++i) {
    for (const int f : lead) add_field_int(f);
    add_field_int(i);
    add_field_real(h.loglike[i]);
    if (map) {
      add_field_real(h.log_prior[i]);
      add_field_real(h.objective[i]);
    }
    if (daem) add_field_real(h.beta[i]);
    end_row(log);
  }
}

}  // namespace

void print_loglike(FILE* log, int K, const FitHistory& h, bool map, bool daem, int t) {
  set_matrix_id("LOGLIKE-K%d", K);
  add_column_name("Num. of classes");
  loglike_columns(map, daem);
  print_header(log);
  loglike_rows(log, h, map, daem, t, {K});
  fflush(log);
}

void print_loglike_smem(FILE* log, int K, const std::vector<SmemOperation>& ops, bool map,
                        bool daem) {
  set_matrix_id("LOGLIKE-SMEM-K%d", K);
  add_column_name("Num. of classes");
  add_column_name("Num. of split-merge operations");
  loglike_columns(map, daem);
  print_header(log);
  for (size_t o = 0; o < ops.size(); ++o) {
    // An operation that accepted nothing kept no run.
    if (o > 0 && ops[o].updates == 0) continue;
    loglike_rows(log, ops[o].history, map, daem, ops[o].updates, {K, static_cast<int>(o)});
  }
  fflush(log);
}

void print_ml_decrease(FILE* log, int K, const FitDecrease& d, bool map) {
  const char* what = map ? "LogPostProb" : "LogLikelihood";
  set_matrix_id("ERR-MSG-DECREASE");
  add_note(map ? "Log posterior prob. decreased!" : "Log-likelihood decreased!");
  print_header(log);
  print_row(log, "NumberOfClasses,%d", K);
  print_row(log, "%s,%d", d.op_label, d.op);
  print_row(log, "NumberOfUpdates,%d", d.t);
  print_row(log, "%sBeforeUpdate,%.Ng", what, d.before);
  print_row(log, "%sAfterUpdate,%.Ng", what, d.after);
  if (d.annealing) print_row(log, "InverseTemperature,%.Ng", d.beta_after);
  fflush(log);
}

void print_ml_score(FILE* log, const std::vector<MlScoreRow>& rows, const std::string& criterion,
                    int k_opt) {
  std::vector<int> ks;
  ScoreColumn columns[2] = {{"BIC", {}, {}}, {"AUTOCLASS", {}, {}}};
  for (const MlScoreRow& r : rows) {
    ks.push_back(r.K);
    columns[0].values.push_back(r.bic);
    columns[1].values.push_back(r.cs);
    columns[1].computed.push_back(r.cs_computed);
  }
  print_score_table(log, ks, columns, criterion.c_str(), k_opt);
}

void print_params(FILE* file, const AttrModel& model, const MlLayout& l, const MlParams& p) {
  print_class_probs(file, "PARAM-CLASS", "Class parameter P(k)", p.pi);
  print_cat_values(file, model, l, "PARAM-CAT%d", "Attr. parameter P(x%d|k)", p.theta);
  for (int g = 0; g < l.n_groups; ++g) {
    print_means(file, model, l, "PARAM-GAUSS-MEAN%d", false, g, p.mean);
    print_covars(file, model, l, "PARAM-GAUSS-COVAR%d", false, g, p.covar);
  }
  fflush(file);
}

void print_joint(FILE* log, const MlContext& ctx, const MlLayout& l, const MlWork& w) {
  print_complete_probs(log, ctx.settings, ctx.model, ctx.cases, l.K, [&](int k, int n) {
    const double v = w.weight[static_cast<size_t>(n) * l.K + k];
    return w.log_domain ? v : exp_value(v);
  });
}

void print_normalisers(FILE* log, const MlContext& ctx, const MlWork& w) {
  print_incomplete_probs(log, ctx.settings, ctx.model, ctx.cases, [&](int n) { return w.norm[n]; });
}

void print_ml_responsibilities(FILE* log, const MlContext& ctx, const MlLayout& l,
                               const MlWork& w) {
  print_conditional_probs(log, ctx.settings, ctx.model, ctx.cases, l.K, [&](int k, int n) {
    return w.resp[static_cast<size_t>(n) * l.K + k];
  });
}

void print_expected_stats(FILE* log, const AttrModel& model, const MlLayout& l, const MlWork& w) {
  print_class_probs(log, "EXPECT-CLASS", "Expected occurrences E[k]", w.e_class);
  print_cat_values(log, model, l, "EXPECT-CAT%d", "Expected occurrences E[x%d|k]", w.e_cat);
  std::vector<double> s1, s2;
  if (l.n_groups > 0) raw_block_sums(l, w, s1, s2);
  for (int g = 0; g < l.n_groups; ++g) {
    print_means(log, model, l, "EXPECT-GAUSS-MEAN%d", true, g, s1);
    print_covars(log, model, l, "EXPECT-GAUSS-COVAR%d", true, g, s2);
  }
  fflush(log);
}

}  // namespace veska
