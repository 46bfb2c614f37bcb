#include <algorithm>

#include "report/read_run.h"

namespace veska {

namespace {

double measure(const DataMatrix& m, std::string_view label) {
  for (size_t r = 0; r < m.rows.size(); ++r) {
    if (m.rows[r][0] == label) return m.real(r, 1);
  }
  m.fail("no row " + std::string(label));
}

}  // namespace

void read_evaluation(const SectionFile& eval, RunData* run) {
  Evaluation& e = run->eval;
  for (const char* id : {"EVAL-PURITY", "EVAL-RAND", "EVAL-NMI"}) {
    const DataMatrix& m = eval.need(id);
    m.require_fields(2);
    for (size_t r = 0; r < m.rows.size(); ++r) {
      m.real(r, 1);
      e.measures.push_back({m.rows[r][0], m.rows[r][1]});
    }
  }
  e.purity = measure(eval.need("EVAL-PURITY"), "Purity");
  e.adjusted_rand = measure(eval.need("EVAL-RAND"), "Adjusted Rand index");
  e.nmi = measure(eval.need("EVAL-NMI"), "Normalized mutual information");

  const DataMatrix& match = eval.need("CLUSTER-MATCH-BY-PREDICTED");
  eval.need("CLUSTER-MATCH-BY-ANSWER");  // written last: its absence means a cut file
  match.require_fields(3);
  size_t K = run->cluster_sizes.size();
  e.counts.assign(K, {});
  for (size_t r = 0; r < match.rows.size(); ++r) {
    const std::vector<std::string>& row = match.rows[r];
    int k = match.integer(r, 0);
    if (k < 0 || static_cast<size_t>(k) >= K) match.fail_row(r, "cluster index out of range");
    std::string answer = match.joined(r, 1, row.size() - 1);
    long count = match.integer(r, row.size() - 1);
    if (count < 0) match.fail_row(r, "negative count");
    std::vector<long>& counts = e.counts[static_cast<size_t>(k)];
    if (k == 0) {
      e.answers.push_back(answer);
    } else if (counts.size() >= e.answers.size() || e.answers[counts.size()] != answer) {
      match.fail_row(r, "answer classes differ from those of cluster 0");
    }
    counts.push_back(count);
  }
  for (const std::vector<long>& counts : e.counts) {
    if (counts.size() != e.answers.size() || e.answers.empty()) match.fail("clusters with differing answer classes");
  }
  run->has_eval = true;
}

void read_ranking(const std::string& path, int max_ranked, RunData* run) {
  int K = static_cast<int>(run->cluster_sizes.size());
  size_t limit = static_cast<size_t>(std::max(0, max_ranked));
  bool by_value = !run->layout.discrete.empty();
  size_t answer = run->layout.answer_attr >= 0 ? 1 : 0;
  std::vector<ClassRanking> classes;
  auto class_entry = [&](const DataMatrix& m, size_t r, int k) -> ClassRanking& {
    if (k < 0 || k >= K) m.fail_row(r, "class index out of range");
    for (ClassRanking& c : classes) {
      if (c.k == k) return c;
    }
    ClassRanking& c = classes.emplace_back();
    c.k = k;
    c.class_prob = m.real(r, m.rows[r].size() - 2);
    return c;
  };

  SectionScanner scanner(path);
  if (!scanner.next_matrix() || scanner.id() != "RANK-CASE") scanner.fail("expected RANK-CASE first");
  if (by_value) {
    // Relevant values: every attribute's list merged per class.
    read_matrix(scanner, [](const std::vector<std::string_view>&) { return false; });
    size_t next = 0;
    while (scanner.next_matrix()) {
      if (next >= run->layout.discrete.size()) break;
      std::string id = "RANK-CAT" + std::to_string(run->layout.discrete[next]);
      if (scanner.id() != id) scanner.fail("expected " + id);
      ++next;
      DataMatrix m = read_matrix(scanner);
      m.require_fields(6);
      for (size_t r = 0; r < m.rows.size(); ++r) {
        const std::vector<std::string>& row = m.rows[r];
        ClassRanking& c = class_entry(m, r, m.integer(r, 2));
        c.values.push_back({row[1], m.joined(r, 3, row.size() - 2), m.real(r, row.size() - 1)});
      }
    }
    if (next < run->layout.discrete.size()) {
      scanner.fail("no data matrix RANK-CAT" + std::to_string(run->layout.discrete[next]) + " (cut short?)");
    }
  } else {
    // No discrete attribute: the relevant cases instead. Each class's cases
    // come best first, so only the first few of each are kept.
    std::string last_class;
    size_t taken = 0;
    DataMatrix m = read_matrix(scanner, [&](const std::vector<std::string_view>& fields) {
      if (fields.empty()) return false;
      if (fields[0] != last_class) {
        last_class = std::string(fields[0]);
        taken = 0;
      }
      return taken++ < limit;
    });
    m.require_fields(4 + answer);
    for (size_t r = 0; r < m.rows.size(); ++r) {
      const std::vector<std::string>& row = m.rows[r];
      ClassRanking& c = class_entry(m, r, m.integer(r, 0));
      c.values.push_back({"Case " + row[1 + answer], answer ? row[1] : "", m.real(r, row.size() - 1)});
    }
  }
  for (ClassRanking& c : classes) {
    std::stable_sort(c.values.begin(), c.values.end(),
                     [](const RankedValue& a, const RankedValue& b) { return a.prob > b.prob; });
    if (c.values.size() > limit) c.values.resize(limit);
  }
  run->ranking = std::move(classes);
}

}  // namespace veska
