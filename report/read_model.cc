#include <cmath>

#include "report/read_run.h"

namespace veska {

namespace {

void check_class(const DataMatrix& m, size_t r, size_t col, int K) {
  int k = m.integer(r, col);
  if (k < 0 || k >= K) m.fail_row(r, "class index out of range");
}

// Value probabilities of attribute j: HPARAM-CAT%d pseudo counts turned into
// their expected probabilities, or PARAM-CAT%d probabilities as they stand.
DiscreteTable read_discrete(const DataMatrix& m, int j, bool parameters, int K) {
  DiscreteTable table;
  table.attr = j;
  m.require_fields(5);
  table.prob.assign(static_cast<size_t>(K), {});
  std::vector<size_t> filled(static_cast<size_t>(K), 0);
  for (size_t r = 0; r < m.rows.size(); ++r) {
    const std::vector<std::string>& row = m.rows[r];
    if (m.integer(r, 0) != j) m.fail_row(r, "attribute index differs from the matrix ID");
    check_class(m, r, 2, K);
    size_t k = static_cast<size_t>(m.integer(r, 2));
    std::string value = m.joined(r, 3, row.size() - 1);
    double x = m.real(r, row.size() - 1);
    if (!(x >= 0.0)) m.fail_row(r, "negative value");
    size_t v = filled[k]++;
    if (k == 0) {
      table.values.push_back(value);
      table.name = row[1];
    } else if (v >= table.values.size() || table.values[v] != value) {
      m.fail_row(r, "values differ from those of class 0");
    }
    table.prob[k].push_back(x);
  }
  for (size_t k = 0; k < table.prob.size(); ++k) {
    if (table.prob[k].size() != table.values.size() || table.values.empty()) m.fail("classes with differing value lists");
    if (parameters) continue;
    double sum = 0.0;
    for (double x : table.prob[k]) sum += x;
    if (!(sum > 0.0)) m.fail("pseudo counts of a class sum to 0");
    for (double& x : table.prob[k]) x /= sum;
  }
  return table;
}

// Means and standard deviations of block g: with hyperparameters the
// covariance is the Wishart scale, so a class's covariance is it divided by
// its degrees of freedom alpha.
GaussBlock read_block(const SectionFile& model, const std::vector<int>& attrs, size_t g,
                      bool parameters, int K) {
  std::string prefix = parameters ? "PARAM-GAUSS-" : "HPARAM-GAUSS-";
  const DataMatrix& mean = model.need(prefix + "MEAN" + std::to_string(g));
  const DataMatrix& covar = model.need(prefix + "COVAR" + std::to_string(g));
  size_t D = attrs.size();
  GaussBlock block;
  block.g = static_cast<int>(g);
  block.attrs = attrs;
  block.names.assign(D, "");
  block.mean.assign(static_cast<size_t>(K), std::vector<double>(D, 0.0));
  block.sd = block.mean;

  mean.require_fields(5);
  if (mean.rows.size() != static_cast<size_t>(K) * D) mean.fail("expected one row per class and attribute");
  for (size_t r = 0; r < mean.rows.size(); ++r) {
    size_t k = r / D, d = r % D;
    if (mean.integer(r, 0) != static_cast<int>(g) || mean.integer(r, 1) != static_cast<int>(k) ||
        mean.integer(r, 2) != attrs[d]) {
      mean.fail_row(r, "rows out of order");
    }
    block.names[d] = mean.rows[r][3];
    block.mean[k][d] = mean.real(r, 4);
  }

  std::vector<double> alpha(static_cast<size_t>(K), 1.0);
  if (!parameters) {
    const DataMatrix& a = model.need("HPARAM-GAUSS-ALPHA" + std::to_string(g));
    a.require_fields(3);
    if (a.rows.size() != static_cast<size_t>(K)) a.fail("expected one row per class");
    for (size_t r = 0; r < a.rows.size(); ++r) {
      if (a.integer(r, 1) != static_cast<int>(r)) a.fail_row(r, "rows out of order");
      alpha[r] = a.real(r, 2);
      if (!(alpha[r] > 0.0)) a.fail_row(r, "alpha is not positive");
    }
  }

  covar.require_fields(7);
  size_t pairs = D * (D + 1) / 2;
  if (covar.rows.size() != static_cast<size_t>(K) * pairs) covar.fail("expected one row per class and pair");
  for (size_t r = 0; r < covar.rows.size(); ++r) {
    size_t k = r / pairs;
    if (covar.integer(r, 1) != static_cast<int>(k)) covar.fail_row(r, "rows out of order");
    int a = covar.integer(r, 2), b = covar.integer(r, 3);
    if (a != b) continue;
    size_t d = 0;
    while (d < D && attrs[d] != a) ++d;
    if (d == D) covar.fail_row(r, "attribute not in the block");
    double variance = covar.real(r, 6) / alpha[k];
    if (!(variance >= 0.0)) covar.fail_row(r, "negative variance");
    block.sd[k][d] = std::sqrt(variance);
  }
  return block;
}

}  // namespace

void read_model(const SectionFile& model, bool parameters, RunData* run) {
  run->model_file = model.path;
  const char* prefix = parameters ? "PARAM-" : "HPARAM-";
  int K = run->chosen_k;
  const DataMatrix& cls = model.need(std::string(prefix) + "CLASS");
  cls.require_fields(2);
  if (cls.rows.size() != static_cast<size_t>(K)) cls.fail("class count differs from the log's");
  double sum = 0.0;
  for (size_t r = 0; r < cls.rows.size(); ++r) {
    if (cls.integer(r, 0) != static_cast<int>(r)) cls.fail_row(r, "rows out of order");
    double w = cls.real(r, 1);
    if (!(w >= 0.0)) cls.fail_row(r, "negative value");
    run->class_weights.push_back(w);
    sum += w;
  }
  if (!parameters) {
    if (!(sum > 0.0)) cls.fail("pseudo counts sum to 0");
    for (double& w : run->class_weights) w /= sum;
  }
  for (int j : run->layout.discrete) {
    run->discrete.push_back(
        read_discrete(model.need(std::string(prefix) + "CAT" + std::to_string(j)), j, parameters, K));
  }
  for (size_t g = 0; g < run->layout.blocks.size(); ++g) {
    run->blocks.push_back(read_block(model, run->layout.blocks[g], g, parameters, K));
  }
}

}  // namespace veska
