#include "analysis/print_cluster.h"

#include <string>

#include "analysis/print_fields.h"
#include "output/section_writer.h"
#include "output/value_text.h"

namespace veska {

namespace {

int size_of(const std::vector<int>& members) { return static_cast<int>(members.size()); }

void print_case_row(FILE* file, const AnalysisInput& in, int n, int k, bool cluster_first) {
  const CaseEntry& entry = in.cases.entries[static_cast<size_t>(n)];
  if (cluster_first) {
    add_field_int(k);
    add_answer_field(in.settings, in.model, entry);
    add_field(case_id_str(in.model, entry, n));
  } else {
    add_field(case_id_str(in.model, entry, n));
    add_answer_field(in.settings, in.model, entry);
    add_field_int(k);
  }
  add_value_fields(in.settings, in.model, entry);
  add_field_real(in.mem.p_case[in.mem.at(n, k)]);
  end_row(file);
}

void print_value_clusters(FILE* file, const AnalysisInput& in, int pos, const Partition& p) {
  const int j = in.model.discrete_attr[static_cast<size_t>(pos)];
  const DiscreteValues& values = in.model.values[static_cast<size_t>(pos)];
  const ValueMemberships& v = in.mem.values[static_cast<size_t>(pos)];
  const int K = in.mem.K;
  const std::string name = attr_name(in.model, j);
  auto prob = [&](int code, int k) { return v.p_class_given_value[static_cast<size_t>(code) * K + k]; };
  auto value_name = [&](int code) { return values.names[static_cast<size_t>(code)].c_str(); };

  set_matrix_id("CLUSTER-CAT%d-BY-ATT", j);
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Attr. x%d", j);
  add_column_name("Cluster k");
  add_column_name("Membership prob. P(k|x%d)", j);
  print_header(file);
  for (int code : values.order) {
    int k = p.cluster[static_cast<size_t>(code)];
    print_row(file, "%d,%s,%s,%d,%.Ng", j, name.c_str(), value_name(code), k, prob(code, k));
  }

  set_matrix_id("CLUSTER-CAT%d-BY-CLUSTER", j);
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Cluster k");
  add_column_name("Attr. x%d", j);
  add_column_name("Membership prob. P(k|x%d)", j);
  print_header(file);
  for (int k = 0; k < K; ++k) {
    for (int code : p.members[static_cast<size_t>(k)]) {
      print_row(file, "%d,%s,%d,%s,%.Ng", j, name.c_str(), k, value_name(code), prob(code, k));
    }
  }
}

void print_block_row(FILE* file, const AnalysisInput& in, int g, int n, int k, bool cluster_first) {
  const CaseEntry& entry = in.cases.entries[static_cast<size_t>(n)];
  add_field_int(g);
  if (cluster_first) add_field_int(k);
  add_field(case_id_str(in.model, entry, n));
  add_block_fields(in.settings, in.model, entry, g);
  if (!cluster_first) add_field_int(k);
  add_field_real(in.mem.class_given_block(g)[in.mem.at(n, k)]);
  end_row(file);
}

void print_block_clusters(FILE* file, const AnalysisInput& in, int g, const Partition& p) {
  // rumel names the per-case clustering of a block by its cases.
  const bool vb = in.settings.program == Program::kVb;
  set_matrix_id(vb ? "CLUSTER-GAUSS%d-BY-ATT" : "CLUSTER-GAUSS%d-BY-CASE", g);
  add_column_name("Gauss ID");
  add_column_name("Case ID");
  add_block_columns(in.settings, in.model, g);
  add_column_name("Cluster k");
  add_column_name("Membership prob. P(k|Gauss%d)", g);
  print_header(file);
  for (int n = 0; n < in.mem.n_entries; ++n) {
    print_block_row(file, in, g, n, p.cluster[static_cast<size_t>(n)], false);
  }

  set_matrix_id("CLUSTER-GAUSS%d-BY-CLUSTER", g);
  add_column_name("Gauss ID");
  add_column_name("Cluster k");
  add_column_name("Case ID");
  add_block_columns(in.settings, in.model, g);
  add_column_name("Membership prob. P(k|Gauss%d)", g);
  print_header(file);
  for (int k = 0; k < in.mem.K; ++k) {
    for (int n : p.members[static_cast<size_t>(k)]) print_block_row(file, in, g, n, k, true);
  }
}

}  // namespace

void print_cluster_sizes(FILE* log, const AnalysisInput& in, const Clustering& c) {
  const int K = in.mem.K;
  set_matrix_id("CLUSTER-FREQ-CASE");
  add_column_name("Cluster for cases");
  add_column_name("Cluster size");
  print_header(log);
  for (int k = 0; k < K; ++k) print_row(log, "%d,%d", k, size_of(c.cases.members[k]));

  for (int pos = 0; pos < in.model.n_discrete; ++pos) {
    const int j = in.model.discrete_attr[static_cast<size_t>(pos)];
    const std::string name = attr_name(in.model, j);
    set_matrix_id("CLUSTER-FREQ-CAT%d", j);
    add_column_name("Attr. ID");
    add_column_name("Attr. name");
    add_column_name("Cluster for attr. %d", j);
    add_column_name("Cluster size");
    print_header(log);
    const Partition& p = c.values[static_cast<size_t>(pos)];
    for (int k = 0; k < K; ++k) {
      print_row(log, "%d,%s,%d,%d", j, name.c_str(), k, size_of(p.members[k]));
    }
  }

  for (int g = 0; g < in.model.n_groups; ++g) {
    set_matrix_id("CLUSTER-FREQ-GAUSS%d", g);
    add_column_name("Gauss ID");
    add_column_name("Cluster for Gauss%d", g);
    add_column_name("Cluster size");
    print_header(log);
    const Partition& p = c.block(g);
    for (int k = 0; k < K; ++k) print_row(log, "%d,%d,%d", g, k, size_of(p.members[k]));
  }
  fflush(log);
}

void print_case_clusters(FILE* file, const AnalysisInput& in, const Partition& cases) {
  set_matrix_id("CLUSTER-CASE-BY-CASE");
  add_column_name("Case ID");
  add_answer_column(in.settings);
  add_column_name("Cluster k");
  add_values_column(in.settings);
  add_column_name("Membership prob. P(k|x)");
  print_header(file);
  for (int n = 0; n < in.mem.n_entries; ++n) {
    print_case_row(file, in, n, cases.cluster[static_cast<size_t>(n)], false);
  }

  set_matrix_id("CLUSTER-CASE-BY-CLUSTER");
  add_column_name("Cluster k");
  add_answer_column(in.settings);
  add_column_name("Case ID");
  add_values_column(in.settings);
  add_column_name("Membership prob. P(k|x)");
  print_header(file);
  for (int k = 0; k < in.mem.K; ++k) {
    for (int n : cases.members[static_cast<size_t>(k)]) print_case_row(file, in, n, k, true);
  }
  fflush(file);
}

void print_attribute_clusters(FILE* file, const AnalysisInput& in, const Clustering& c) {
  for (int pos = 0; pos < in.model.n_discrete; ++pos) {
    print_value_clusters(file, in, pos, c.values[static_cast<size_t>(pos)]);
  }
  for (int g = 0; g < in.model.n_groups; ++g) {
    print_block_clusters(file, in, g, c.block(g));
  }
  fflush(file);
}

}  // namespace veska
