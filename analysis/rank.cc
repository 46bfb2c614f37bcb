#include "analysis/rank.h"

#include <algorithm>
#include <numeric>
#include <string>

#include "analysis/output_file.h"
#include "analysis/print_fields.h"
#include "common/misc.h"
#include "output/section_writer.h"
#include "output/value_text.h"

namespace veska {

namespace {

constexpr const char* kMembershipMeasure = "MEMBERSHIP_DIST";
constexpr const char* kRankNote = "in the decending order of the class probs. and the membership probs.";

// One class's list: the items in rank order and how many are shown.
struct RankedList {
  std::vector<int> items;
  int shown = 0;
};

// For class k, items 0..n-1 with probability probs[i * K + k].
RankedList rank_class(const Settings& s, int K, int k, int n, const std::vector<double>& probs) {
  RankedList list;
  const double* column = probs.data() + k;
  list.items = rank_order(n, column, K);
  std::vector<double> ranked;
  ranked.reserve(list.items.size());
  for (int i : list.items) ranked.push_back(column[static_cast<size_t>(i) * K]);
  list.shown = rank_length(s, K, ranked, rank_limit(s, n));
  return list;
}

void print_rank_cases(FILE* file, const AnalysisInput& in, const std::vector<int>& class_order) {
  const Memberships& mem = in.mem;
  set_matrix_id("RANK-CASE");
  add_column_name("Class k");
  add_answer_column(in.settings);
  add_column_name("Case ID");
  add_values_column(in.settings);
  add_column_name("Class prob. P(k)");
  add_column_name("Membership prob. P(k|x)");
  add_note("%s", kRankNote);
  print_header(file);
  for (int k : class_order) {
    RankedList list = rank_class(in.settings, mem.K, k, mem.n_entries, mem.p_case);
    for (int r = 0; r < list.shown; ++r) {
      const int n = list.items[static_cast<size_t>(r)];
      const CaseEntry& entry = in.cases.entries[static_cast<size_t>(n)];
      add_field_int(k);
      add_answer_field(in.settings, in.model, entry);
      add_field(case_id_str(in.model, entry, n));
      add_value_fields(in.settings, in.model, entry);
      add_field_real(mem.p_class[k]);
      add_field_real(mem.p_case[mem.at(n, k)]);
      end_row(file);
    }
  }
}

void print_rank_values(FILE* file, const AnalysisInput& in, const std::vector<int>& class_order,
                       int pos) {
  const Memberships& mem = in.mem;
  const int j = in.model.discrete_attr[static_cast<size_t>(pos)];
  const DiscreteValues& values = in.model.values[static_cast<size_t>(pos)];
  const ValueMemberships& v = mem.values[static_cast<size_t>(pos)];
  const std::string name = attr_name(in.model, j);
  set_matrix_id("RANK-CAT%d", j);
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Class k");
  add_column_name("Attr. value x%d", j);
  add_column_name("Class prob. P(k)");
  add_column_name("Membership prob. P(k|x%d)", j);
  add_note("%s", kRankNote);
  print_header(file);
  for (int k : class_order) {
    RankedList list = rank_class(in.settings, mem.K, k, v.n_values, v.p_class_given_value);
    for (int r = 0; r < list.shown; ++r) {
      const int code = list.items[static_cast<size_t>(r)];
      print_row(file, "%d,%s,%d,%s,%.Ng,%.Ng", j, name.c_str(), k,
                values.names[static_cast<size_t>(code)].c_str(), mem.p_class[k],
                v.p_class_given_value[static_cast<size_t>(code) * mem.K + k]);
    }
  }
}

void print_rank_block(FILE* file, const AnalysisInput& in, const std::vector<int>& class_order,
                      int g) {
  const Memberships& mem = in.mem;
  const std::vector<double>& p_class_given_block = mem.class_given_block(g);
  set_matrix_id("RANK-GAUSS%d", g);
  add_column_name("Gauss ID");
  add_column_name("Class k");
  add_column_name("Case ID");
  add_block_columns(in.settings, in.model, g);
  add_column_name("Class prob. P(k)");
  add_column_name("Membership prob. P(k|Gauss%d)", g);
  add_note("%s", kRankNote);
  print_header(file);
  for (int k : class_order) {
    RankedList list = rank_class(in.settings, mem.K, k, mem.n_entries, p_class_given_block);
    for (int r = 0; r < list.shown; ++r) {
      const int n = list.items[static_cast<size_t>(r)];
      const CaseEntry& entry = in.cases.entries[static_cast<size_t>(n)];
      add_field_int(g);
      add_field_int(k);
      add_field(case_id_str(in.model, entry, n));
      add_block_fields(in.settings, in.model, entry, g);
      add_field_real(mem.p_class[k]);
      add_field_real(p_class_given_block[mem.at(n, k)]);
      end_row(file);
    }
  }
}

}  // namespace

std::vector<int> rank_order(int n, const double* probs, int stride) {
  std::vector<int> order(static_cast<size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [probs, stride](int a, int b) {
    return probs[static_cast<size_t>(a) * stride] > probs[static_cast<size_t>(b) * stride];
  });
  return order;
}

int rank_limit(const Settings& s, int n) {
  if (s.rank_threshold_given || s.rank_count < 1) return n;
  return std::min(s.rank_count, n);
}

int rank_length(const Settings& s, int K, const std::vector<double>& ranked, int limit) {
  const double floor = 1.0 / K;
  int shown = 0;
  for (double p : ranked) {
    if (shown >= limit) break;
    if (s.rank_threshold_given && p < s.rank_threshold) break;
    if (s.hide_rank && p < floor) break;
    ++shown;
  }
  return shown;
}

void rank_relevant(const AnalysisInput& in) {
  if (in.settings.rank_measure != kMembershipMeasure) {
    die("Internal error: Unexpected relevance measure between classes and attribute values\n");
  }
  msg_printf("Ranking relevant cases/attvals...");
  const std::vector<int> class_order = rank_order(in.mem.K, in.mem.p_class.data());
  {
    OutputFile file(in.settings.files.rank);
    print_rank_cases(file.get(), in, class_order);
    for (int pos = 0; pos < in.model.n_discrete; ++pos) {
      print_rank_values(file.get(), in, class_order, pos);
    }
    for (int g = 0; g < in.model.n_groups; ++g) print_rank_block(file.get(), in, class_order, g);
    fflush(file.get());
  }
  msg_printf("done\n");
}

}  // namespace veska
