#include "vb/print_vb_dumps.h"

#include <string>
#include <vector>

#include "output/print_case_tables.h"
#include "output/print_value_table.h"
#include "output/section_writer.h"
#include "vb/vbem.h"

namespace veska {

namespace {

// One value per class, "%d,%.Ng".
void print_class_values(FILE* log, const char* id, const char* column,
                        const std::vector<double>& values, int K) {
  set_matrix_id("%s", id);
  add_column_name("Class k");
  add_column_name("%s", column);
  print_header(log);
  for (int k = 0; k < K; ++k) print_row(log, "%d,%.Ng", k, values[static_cast<size_t>(k)]);
}

// One value per class and value of each discrete attribute, laid out as
// HPARAM-CAT%d.
void print_cat_values(FILE* log, const VbContext& ctx, const VbState& st, const char* id_format,
                      const char* column, const std::vector<double>& values) {
  for (int pos = 0; pos < ctx.model.n_discrete; ++pos) {
    print_value_table(log, id_format, column, ctx.model, pos, st.K,
                      [&](int k, int code) { return values[st.cat_index(k, pos, code)]; });
  }
}

}  // namespace

void print_expected_logs(FILE* log, const VbContext& ctx, const VbState& st) {
  print_class_values(log, "PI-CLASS", "Class pi(k)", st.e_log_pi, st.K);
  print_cat_values(log, ctx, st, "PI-CAT%d", "Attr. pi(x%d|k)", st.e_log_theta);
  fflush(log);
}

void print_complete_prob(FILE* log, const VbContext& ctx, const VbState& st) {
  print_complete_probs(log, ctx.settings, ctx.model, ctx.cases, st.K,
                       [&](int k, int n) { return st.log_rho[st.entry_index(k, n)]; });
}

void print_log_normalisers(FILE* log, const VbContext& ctx, const VbState& st) {
  const std::vector<double> log_z = log_normalisers(st);
  print_incomplete_probs(log, ctx.settings, ctx.model, ctx.cases,
                         [&](int n) { return log_z[static_cast<size_t>(n)]; });
}

void print_responsibilities(FILE* log, const VbContext& ctx, const VbState& st) {
  print_conditional_probs(log, ctx.settings, ctx.model, ctx.cases, st.K,
                          [&](int k, int n) { return st.resp[st.entry_index(k, n)]; });
}

void print_sufficient_stats(FILE* log, const VbContext& ctx, const VbState& st) {
  print_class_values(log, "EXPECT-CLASS", "Expected occurrences E[k]", st.n_k, st.K);
  print_cat_values(log, ctx, st, "EXPECT-CAT%d", "Expected occurrences E[x%d|k]", st.n_cat);
  fflush(log);
}

}  // namespace veska
