#include "analysis/evaluate.h"

#include <algorithm>
#include <cmath>

#include "analysis/output_file.h"
#include "output/section_writer.h"

namespace veska {

namespace {

constexpr double kRoundingNoise = 1.0e-12;

double pairs(int64_t m) { return m >= 2 ? 0.5 * static_cast<double>(m) * (m - 1) : 0.0; }

// num / den, or `agreement` when den is 0 (num is then 0 too).
double ratio(double num, double den, double agreement) { return den != 0.0 ? num / den : agreement; }

// Weighted harmonic mean; 0 when both measures are 0.
double f_measure(double beta, double p, double r) {
  const double b2 = beta * beta;
  return ratio((b2 + 1.0) * p * r, b2 * p + r, 0.0);
}

// -sum (m/N) log2(m/N) over the nonzero sizes.
double entropy(const std::vector<int64_t>& sizes, double N) {
  double h = 0.0;
  for (int64_t m : sizes) {
    if (m > 0) h -= (m / N) * std::log2(m / N);
  }
  return h;
}

void print_measures(FILE* file, const Settings& s, const EvalMeasures& m) {
  set_matrix_id("EVAL-PURITY");
  add_column_name("Evaluation measure");
  add_column_name("Value");
  add_note("Weight in F-measure of Purity = %.Ng", s.weight_purity);
  print_header(file);
  print_row(file, "Purity,%.Ng", m.purity);
  print_row(file, "Inverse Purity,%.Ng", m.inverse_purity);
  print_row(file, "F-Purity,%.Ng", m.f_purity);

  set_matrix_id("EVAL-RAND");
  add_column_name("Evaluation measure");
  add_column_name("Value");
  add_note("Weight in F-measure of Wallance's measures = %.Ng", s.weight_wallance);
  print_header(file);
  print_row(file, "Rand index,%.Ng", m.rand);
  print_row(file, "Wallance's measure I,%.Ng", m.wallace1);
  print_row(file, "Wallance's measure II,%.Ng", m.wallace2);
  print_row(file, "F-measure of Wallance's measures,%.Ng", m.f_wallace);
  print_row(file, "Fowlkes and Mallows index,%.Ng", m.fowlkes_mallows);
  print_row(file, "Adjusted Rand index,%.Ng", m.adjusted_rand);
  print_row(file, "Jaccard index,%.Ng", m.jaccard);
  print_row(file, "Mirkin metric,%.Ng", m.mirkin);

  set_matrix_id("EVAL-NMI");
  add_column_name("Evaluation measure");
  add_column_name("Value");
  print_header(file);
  print_row(file, "Normalized mutual information,%.Ng", m.nmi);
  print_row(file, "Variation of information,%.Ng", m.vi);
  print_row(file, "Normalized variation of information,%.Ng", m.nvi);
}

void print_matches(FILE* file, const AttrModel& model, const Contingency& t) {
  auto answer = [&model](int c) { return model.answer_names[static_cast<size_t>(c)].c_str(); };
  set_matrix_id("CLUSTER-MATCH-BY-PREDICTED");
  add_column_name("Cluster k [predicted]");
  add_column_name("Answer class");
  add_column_name("Num. of matched cases");
  print_header(file);
  for (int k = 0; k < t.K; ++k) {
    for (int c = 0; c < t.A; ++c) {
      print_row(file, "%d,%s,%lld", k, answer(c), static_cast<long long>(t.at(k, c)));
    }
  }

  set_matrix_id("CLUSTER-MATCH-BY-ANSWER");
  add_column_name("Answer class");
  add_column_name("Cluster k [predicted]");
  add_column_name("Num. of matched cases");
  print_header(file);
  for (int c = 0; c < t.A; ++c) {
    for (int k = 0; k < t.K; ++k) {
      print_row(file, "%s,%d,%lld", answer(c), k, static_cast<long long>(t.at(k, c)));
    }
  }
}

}  // namespace

Contingency build_contingency(const CaseTable& cases, const std::vector<int>& cluster, int K,
                              int n_answers) {
  Contingency t;
  t.K = K;
  t.A = n_answers;
  t.n.assign(static_cast<size_t>(K) * n_answers, 0);
  t.a.assign(static_cast<size_t>(K), 0);
  t.b.assign(static_cast<size_t>(n_answers), 0);
  for (int e = 0; e < cases.n_entries; ++e) {
    const CaseEntry& entry = cases.entries[static_cast<size_t>(e)];
    if (entry.answer < 0) continue;
    const int k = cluster[static_cast<size_t>(e)];
    t.n[static_cast<size_t>(k) * n_answers + entry.answer] += entry.total;
    t.a[static_cast<size_t>(k)] += entry.total;
    t.b[static_cast<size_t>(entry.answer)] += entry.total;
    t.N += entry.total;
  }
  return t;
}

EvalMeasures compute_measures(const Contingency& t, double beta_purity, double beta_wallace) {
  EvalMeasures m;
  const double N = static_cast<double>(t.N);

  double best_per_cluster = 0.0, best_per_class = 0.0;
  for (int k = 0; k < t.K; ++k) {
    int64_t best = 0;
    for (int c = 0; c < t.A; ++c) best = std::max(best, t.at(k, c));
    best_per_cluster += static_cast<double>(best);
  }
  for (int c = 0; c < t.A; ++c) {
    int64_t best = 0;
    for (int k = 0; k < t.K; ++k) best = std::max(best, t.at(k, c));
    best_per_class += static_cast<double>(best);
  }
  m.purity = ratio(best_per_cluster, N, 1.0);
  m.inverse_purity = ratio(best_per_class, N, 1.0);
  m.f_purity = f_measure(beta_purity, m.purity, m.inverse_purity);

  double tp = 0.0, sc = 0.0, sa = 0.0;
  for (int64_t v : t.n) tp += pairs(v);
  for (int64_t v : t.a) sc += pairs(v);
  for (int64_t v : t.b) sa += pairs(v);
  const double total = pairs(t.N);
  const double disagreements = sc + sa - 2.0 * tp;
  m.rand = ratio(total - disagreements, total, 1.0);
  m.wallace1 = ratio(tp, sc, 1.0);
  m.wallace2 = ratio(tp, sa, 1.0);
  m.f_wallace = f_measure(beta_wallace, m.wallace1, m.wallace2);
  m.fowlkes_mallows = std::sqrt(m.wallace1 * m.wallace2);
  // With no pair at all the expected index is taken as 0: the partitions
  // agree and the adjusted index is 1.
  const double expected = ratio(sc * sa, total, 0.0);
  m.adjusted_rand = ratio(tp - expected, 0.5 * (sc + sa) - expected, 1.0);
  m.jaccard = ratio(tp, sc + sa - tp, 1.0);
  m.mirkin = 2.0 * disagreements;

  double info = 0.0;
  for (int k = 0; k < t.K; ++k) {
    for (int c = 0; c < t.A; ++c) {
      const double n = static_cast<double>(t.at(k, c));
      if (n > 0) info += (n / N) * std::log2(n * N / (static_cast<double>(t.a[k]) * t.b[c]));
    }
  }
  const double h_clusters = entropy(t.a, N);
  const double h_answers = entropy(t.b, N);
  m.vi = h_clusters + h_answers - 2.0 * info;
  // The variation of information is 0 only for identical partitions and
  // otherwise at least of the order of 1/N: what is left near 0 is rounding.
  if (m.vi <= kRoundingNoise * std::max(1.0, h_clusters + h_answers)) {
    m.vi = 0.0;
    m.nmi = 1.0;
  } else {
    m.nmi = ratio(2.0 * info, h_clusters + h_answers, 1.0);
  }
  m.nvi = 1.0 - m.nmi;
  return m;
}

void evaluate(const AnalysisInput& in, const Partition& cases) {
  const Contingency t = build_contingency(in.cases, cases.cluster, in.mem.K, in.model.n_answers);
  const EvalMeasures m =
      compute_measures(t, in.settings.weight_purity, in.settings.weight_wallance);
  OutputFile file(in.settings.files.eval);
  print_measures(file.get(), in.settings, m);
  print_matches(file.get(), in.model, t);
  fflush(file.get());
}

}  // namespace veska
