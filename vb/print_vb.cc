#include "vb/print_vb.h"

#include <functional>
#include <string>

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
  set_matrix_id("FREE-ENERGY-K%d", K);
  add_column_name("Num. of classes");
  add_column_name("Num. of updates");
  add_column_name("Variational free energy");
  if (daem) add_column_name("Inverse temperature");
  print_header(log);
  for (int i = 0; i < t; ++i) {
    if (daem) {
      print_row(log, "%d,%d,%.Ng,%.Ng", K, i, h.at(i), h.beta_at(i));
    } else {
      print_row(log, "%d,%d,%.Ng", K, i, h.at(i));
    }
  }
  fflush(log);
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
  set_matrix_id("SCORE");
  add_column_name("Num. of classes");
  add_column_name("Variational free energy");
  add_note("Optimal num. of classes = %d", k_opt);
  print_header(log);
  for (size_t i = 0; i < ks.size(); ++i) print_row(log, "%d,%.Ng", ks[i], f[i]);
  fflush(log);
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
