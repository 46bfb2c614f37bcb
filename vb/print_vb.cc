#include "vb/print_vb.h"

#include <functional>
#include <span>
#include <string>

#include "output/print_fit_tables.h"
#include "output/print_value_table.h"
#include "output/section_writer.h"
#include "output/value_text.h"

namespace veska {

namespace {

void print_class_hparams(FILE* file, const VbState& st) {
  set_matrix_id("HPARAM-CLASS");
  add_column_name("Class k");
  add_column_name("Class pseudo count delta(k)");
  print_header(file);
  for (int k = 0; k < st.K; ++k) print_row(file, "%d,%.Ng", k, st.delta[k]);
}

void print_cat_hparams(FILE* file, const AttrModel& model, const VbState& st, int j) {
  const int pos = model.attrs[j].position;
  print_value_table(file, "HPARAM-CAT%d", "Attr. pseudo count delta(x%d|k)", model, pos, st.K,
                    [&](int k, int code) { return st.delta_cat[st.cat_index(k, pos, code)]; });
}

void print_mean_hparams(FILE* file, const AttrModel& model, const VbState& st, int g) {
  print_block_means(file, "HPARAM-GAUSS-MEAN%d", model, g, st.K, false,
                    [&](int k, int a) { return (*st.block(k, g).mu)[a]; });
}

}  // namespace

namespace {

void print_covar_hparams(FILE* file, const AttrModel& model, const VbState& st, int g) {
  print_block_covariances(file, "HPARAM-GAUSS-COVAR%d", model, g, st.K, false,
                          [&](int k, int a, int b) { return (*st.block(k, g).sigma)[a][b]; });
}

void print_tau_hparams(FILE* file, const VbState& st) {
  set_matrix_id("HPARAM-GAUSS-TAU");
  add_column_name("Class k");
  add_column_name("Tau");
  print_header(file);
  for (int k = 0; k < st.K; ++k) print_row(file, "%d,%.Ng", k, st.n_k[k] + st.tau0);
}

void print_alpha_hparams(FILE* file, const VbState& st, int g) {
  set_matrix_id("HPARAM-GAUSS-ALPHA%d", g);
  add_column_name("Gauss ID");
  add_column_name("Class k");
  add_column_name("Alpha");
  print_header(file);
  for (int k = 0; k < st.K; ++k) print_row(file, "%d,%d,%.Ng", g, k, st.n_k[k] + st.alpha0[g]);
}

}  // namespace

void print_free_energy(FILE* log, int K, const FitHistory& h, bool daem, int t) {
  const TitledColumn columns[] = {{"Variational free energy", h.objective},
                                  {"Inverse temperature", h.beta}};
  print_learning_curve(log, "FREE-ENERGY-K%d", K, std::span(columns, daem ? 2 : 1), t);
}

void print_decrease_error(FILE* log, int K, const FitDecrease& d) {
  set_matrix_id("ERR-MSG-DECREASE");
  add_note("Variational free energy decreased!");
  print_header(log);
  print_row(log, "NumberOfClasses,%d", K);
  print_row(log, "%s,%d", d.op_label, d.op);
  print_row(log, "NumberOfUpdates,%d", d.t);
  print_row(log, "FreeEnergyBeforeUpdate,%.Ng", d.before);
  print_row(log, "FreeEnergyAfterUpdate,%.Ng", d.after);
  print_row(log, "InverseTemperature,%.Ng", d.beta_after);
  fflush(log);
}

void print_score(FILE* log, const std::vector<int>& ks, const std::vector<double>& f, int k_opt) {
  const ScoreColumn column{"Variational free energy", f, {}};
  print_score_table(log, ks, std::span(&column, 1), nullptr, k_opt);
}

void print_hparams(FILE* file, const VbContext& ctx, const VbState& st) {
  const AttrModel& model = ctx.model;
  print_class_hparams(file, st);
  for (int pos = 0; pos < model.n_discrete; ++pos) {
    print_cat_hparams(file, model, st, model.discrete_attr[pos]);
  }
  if (model.n_groups > 0) {
    for (int g = 0; g < model.n_groups; ++g) {
      print_mean_hparams(file, model, st, g);
      print_covar_hparams(file, model, st, g);
    }
    print_tau_hparams(file, st);
    for (int g = 0; g < model.n_groups; ++g) print_alpha_hparams(file, st, g);
  }
  fflush(file);
}

}  // namespace veska
