#include "vb/print_vb.h"

#include <functional>
#include <string>

#include "output/section_writer.h"
#include "output/value_text.h"

namespace veska {

namespace {

// attr_name reuses one area for unnamed attributes; rows that show two names
// need their own copies.
std::string name_of(const AttrModel& model, int j) { return attr_name(model, j); }

void print_class_hparams(FILE* file, const VbState& st) {
  set_matrix_id("HPARAM-CLASS");
  add_column_name("Class k");
  add_column_name("Class pseudo count delta(k)");
  print_header(file);
  for (int k = 0; k < st.K; ++k) print_row(file, "%d,%.Ng", k, st.delta[k]);
}

void print_cat_hparams(FILE* file, const AttrModel& model, const VbState& st, int j) {
  int pos = model.attrs[j].position;
  const DiscreteValues& values = model.values[pos];
  std::string name = name_of(model, j);
  set_matrix_id("HPARAM-CAT%d", j);
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Class k");
  add_column_name("Attr. value x%d", j);
  add_column_name("Attr. pseudo count delta(x%d|k)", j);
  print_header(file);
  for (int k = 0; k < st.K; ++k) {
    for (int code : values.order) {
      print_row(file, "%d,%s,%d,%s,%.Ng", j, name.c_str(), k, values.names[code].c_str(),
                st.delta_cat[st.cat_index(k, pos, code)]);
    }
  }
}

void print_mean_hparams(FILE* file, const AttrModel& model, const VbState& st, int g) {
  const std::vector<int>& attrs = model.groups[g].attrs;
  set_matrix_id("HPARAM-GAUSS-MEAN%d", g);
  add_column_name("Gauss ID");
  add_column_name("Class k");
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Mean");
  print_header(file);
  for (int k = 0; k < st.K; ++k) {
    const Vector& mu = *st.block(k, g).mu;
    for (int a = 0; a < static_cast<int>(attrs.size()); ++a) {
      print_row(file, "%d,%d,%d,%s,%.Ng", g, k, attrs[a], attr_name(model, attrs[a]), mu[a]);
    }
  }
}

}  // namespace

void print_block_covariances(FILE* file, const char* id_format, const AttrModel& model, int g,
                             int K, const std::function<const Matrix&(int k)>& matrix_of) {
  const std::vector<int>& attrs = model.groups[static_cast<size_t>(g)].attrs;
  const int d = static_cast<int>(attrs.size());
  // attr_name reuses one area for unnamed attributes; a row shows two names.
  std::vector<std::string> names;
  for (int j : attrs) names.push_back(attr_name(model, j));
  set_matrix_id(id_format, g);
  add_column_name("Gauss ID");
  add_column_name("Class k");
  add_column_name("Attr. ID");
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Attr. name");
  add_column_name("(Co)Variance");
  print_header(file);
  for (int k = 0; k < K; ++k) {
    const Matrix& m = matrix_of(k);
    for (int a = 0; a < d; ++a) {
      for (int b = a; b < d; ++b) {
        print_row(file, "%d,%d,%d,%d,%s,%s,%.Ng", g, k, attrs[a], attrs[b], names[a].c_str(),
                  names[b].c_str(), m[a][b]);
      }
    }
  }
}

namespace {

void print_covar_hparams(FILE* file, const AttrModel& model, const VbState& st, int g) {
  print_block_covariances(file, "HPARAM-GAUSS-COVAR%d", model, g, st.K,
                          [&](int k) -> const Matrix& { return *st.block(k, g).sigma; });
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

void print_auto_smoothing(FILE* log, const Settings& s, const AttrModel& model, int K) {
  set_matrix_id("AUTO-SMOOTH-CLASS-K%d", K);
  add_column_name("Num. of classes");
  add_column_name("Class smoothing constant");
  print_header(log);
  print_row(log, "%d,%.Ng", K, s.smooth_c);

  if (model.n_discrete > 0) {
    set_matrix_id("AUTO-SMOOTH-CAT-K%d", K);
    add_column_name("Num. of classes");
    add_column_name("Attr. ID");
    add_column_name("Attr. name");
    add_column_name("Attr. smoothing constant [based on AutoClass]");
    print_header(log);
    for (int pos = 0; pos < model.n_discrete; ++pos) {
      int j = model.discrete_attr[pos];
      print_row(log, "%d,%d,%s,%.Ng", K, j, attr_name(model, j), s.smooth_a[pos].value);
    }
  }
  fflush(log);
}

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

void print_seeds(FILE* log, bool per_k, int K, int best_restart,
                 const std::vector<RestartRecord>& runs) {
  if (per_k) {
    set_matrix_id("SEED-K%d", K);
  } else {
    set_matrix_id("SEED");
  }
  add_column_name("Num. of classes");
  add_column_name("Restart");
  add_column_name("Random seed");
  add_column_name("Num. of updates");
  add_column_name("Variational free energy");
  add_note("Best seed = %d", best_restart);
  print_header(log);
  for (int r = 0; r < static_cast<int>(runs.size()); ++r) {
    const RestartRecord& run = runs[r];
    if (run.seeded) {
      print_row(log, "%d,%d,%u,%d,%.Ng", K, r, static_cast<unsigned>(run.seed), run.updates,
                run.objective);
    } else {
      print_row(log, "%d,%d,N/A,%d,%.Ng", K, r, run.updates, run.objective);
    }
  }
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
