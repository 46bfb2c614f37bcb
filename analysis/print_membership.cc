#include "analysis/print_membership.h"

#include "output/print_value_table.h"

#include <string>

#include "analysis/print_fields.h"
#include "analysis/output_file.h"
#include "output/section_writer.h"
#include "output/value_text.h"

namespace veska {

namespace {

void print_member_cat(FILE* file, const AnalysisInput& in, int pos) {
  const AttrModel& model = in.model;
  const int j = model.discrete_attr[static_cast<size_t>(pos)];
  const DiscreteValues& values = model.values[static_cast<size_t>(pos)];
  const ValueMemberships& v = in.mem.values[static_cast<size_t>(pos)];
  const int K = in.mem.K;
  const std::string name = attr_name(model, j);
  set_matrix_id("MEMBER-CAT%d", j);
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Attr. value x%d", j);
  add_column_name("Class k");
  add_column_name("Class prob. P(k)");
  add_column_name("Component prob. P(x%d|k)", j);
  add_column_name("Marginal prob. P(x%d)", j);
  add_column_name("Membership prob. P(k|x%d)", j);
  print_header(file);
  for (int code : values.order) {
    for (int k = 0; k < K; ++k) {
      print_row(file, "%d,%s,%s,%d,%.Ng,%.Ng,%.Ng,%.Ng", j, name.c_str(),
                values.names[static_cast<size_t>(code)].c_str(), k, in.mem.p_class[k],
                v.p_value_given_class[static_cast<size_t>(k) * v.n_values + code],
                v.p_value[static_cast<size_t>(code)],
                v.p_class_given_value[static_cast<size_t>(code) * K + k]);
    }
  }
}

void print_member_gauss(FILE* file, const AnalysisInput& in, int g) {
  const Memberships& mem = in.mem;
  const std::vector<double>& given_class = mem.block_given_class(g);
  const std::vector<double>& marginal = mem.block_marginal(g);
  const std::vector<double>& given_block = mem.class_given_block(g);
  set_matrix_id("MEMBER-GAUSS%d", g);
  add_column_name("Gauss ID");
  add_column_name("Case ID");
  add_block_columns(in.settings, in.model, g);
  add_column_name("Class k");
  add_column_name("Class prob. P(k)");
  add_column_name("Component prob. P(Gauss%d|k)", g);
  add_column_name("Marginal prob. P(Gauss%d)", g);
  add_column_name("Membership prob. P(k|Gauss%d)", g);
  print_header(file);
  for (int n = 0; n < mem.n_entries; ++n) {
    const CaseEntry& entry = in.cases.entries[static_cast<size_t>(n)];
    for (int k = 0; k < mem.K; ++k) {
      add_field_int(g);
      add_field(case_id_str(in.model, entry, n));
      add_block_fields(in.settings, in.model, entry, g);
      add_field_int(k);
      add_field_real(mem.p_class[k]);
      add_field_real(given_class[mem.at(n, k)]);
      add_field_real(marginal[static_cast<size_t>(n)]);
      add_field_real(given_block[mem.at(n, k)]);
      end_row(file);
    }
  }
}

}  // namespace

void print_class_probs(FILE* file, const char* id, const char* label,
                       const std::vector<double>& p_class) {
  set_matrix_id("%s", id);
  add_column_name("Class k");
  add_column_name("%s", label);
  print_header(file);
  for (size_t k = 0; k < p_class.size(); ++k) {
    print_row(file, "%d,%.Ng", static_cast<int>(k), p_class[k]);
  }
}

void print_value_probs(FILE* file, const char* id_format, const char* label_format,
                       const AttrModel& model, int pos, const ValueMemberships& v, int K) {
  print_value_table(file, id_format, label_format, model, pos, K, [&](int k, int code) {
    return v.p_value_given_class[static_cast<size_t>(k) * v.n_values + code];
  });
}

void print_class_parameters(FILE* file, const AttrModel& model, const Memberships& mem) {
  print_class_probs(file, "PARAM-CLASS", "Class parameter P(k)", mem.p_class);
  for (int pos = 0; pos < model.n_discrete; ++pos) {
    print_value_probs(file, "PARAM-CAT%d", "Attr. parameter P(x%d|k)", model, pos,
                      mem.values[static_cast<size_t>(pos)], mem.K);
  }
  fflush(file);
}

void print_member_case(FILE* file, const AnalysisInput& in) {
  const Memberships& mem = in.mem;
  set_matrix_id("MEMBER-CASE");
  add_column_name("Case ID");
  add_answer_column(in.settings);
  add_values_column(in.settings);
  add_column_name("Class k");
  add_column_name("Class prob. P(k)");
  add_column_name("Component prob. P(x|k)");
  add_column_name("Marginal prob. P(x)");
  add_column_name("Membership prob. P(k|x)");
  print_header(file);
  for (int n = 0; n < mem.n_entries; ++n) {
    const CaseEntry& entry = in.cases.entries[static_cast<size_t>(n)];
    for (int k = 0; k < mem.K; ++k) {
      add_field(case_id_str(in.model, entry, n));
      add_answer_field(in.settings, in.model, entry);
      add_value_fields(in.settings, in.model, entry);
      add_field_int(k);
      add_field_real(mem.p_class[k]);
      add_field_real(mem.p_component[mem.at(n, k)]);
      add_field_real(mem.p_marginal[static_cast<size_t>(n)]);
      add_field_real(mem.p_case[mem.at(n, k)]);
      end_row(file);
    }
  }
  fflush(file);
}

void print_member_attributes(FILE* file, const AnalysisInput& in) {
  for (int pos = 0; pos < in.model.n_discrete; ++pos) print_member_cat(file, in, pos);
  for (int g = 0; g < in.model.n_groups; ++g) print_member_gauss(file, in, g);
  fflush(file);
}

void write_membership_file(const AnalysisInput& in) {
  OutputFile file(in.settings.files.memp);
  print_member_case(file.get(), in);
  if (in.settings.show_attr_memp) print_member_attributes(file.get(), in);
}

}  // namespace veska
