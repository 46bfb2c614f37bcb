#include <string_view>

#include "common/init.h"
#include "common/misc.h"
#include "report/read_run.h"

namespace veska {

namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Index of the row whose first field is `label`, or -1.
int row_of(const DataMatrix& m, std::string_view label) {
  for (size_t r = 0; r < m.rows.size(); ++r) {
    if (!m.rows[r].empty() && m.rows[r][0] == label) return static_cast<int>(r);
  }
  return -1;
}

std::string row_value(const DataMatrix& m, size_t r) {
  std::string value;
  for (size_t c = 1; c < m.rows[r].size(); ++c) {
    if (c > 1) value += ", ";
    value += m.rows[r][c];
  }
  return value;
}

bool enabled(const DataMatrix& m, std::string_view label) {
  int r = row_of(m, label);
  return r >= 0 && m.field(static_cast<size_t>(r), 1) == "Enabled";
}

// Attribute index or -1 for "(none)".
int optional_index(const DataMatrix& m, std::string_view label) {
  int r = row_of(m, label);
  if (r < 0) m.fail("no row " + std::string(label));
  if (m.field(static_cast<size_t>(r), 1) == "(none)") return -1;
  return m.integer(static_cast<size_t>(r), 1);
}

std::vector<int> index_list(const DataMatrix& m, size_t r) {
  std::vector<int> list;
  if (m.field(r, 1) == "(none)") return list;
  for (size_t c = 1; c < m.rows[r].size(); ++c) list.push_back(m.integer(r, c));
  return list;
}

AttrLayout read_layout(const DataMatrix& m) {
  AttrLayout layout;
  int r = row_of(m, "Num of attributes");
  if (r < 0) m.fail("no row Num of attributes");
  layout.n_attr = m.integer(static_cast<size_t>(r), 1);
  layout.id_attr = optional_index(m, "ID attribute");
  layout.answer_attr = optional_index(m, "Answer class attribute");
  for (size_t row = 0; row < m.rows.size(); ++row) {
    const std::string& label = m.field(row, 0);
    if (label == "Ignored attributes") layout.ignored = index_list(m, row);
    if (label == "Discrete attributes") layout.discrete = index_list(m, row);
    if (starts_with(label, "Attributes in Gauss")) {
      int g = 0;
      if (!try_parse_int(label.c_str() + 19, &g) || g != static_cast<int>(layout.blocks.size())) {
        m.fail_row(row, "unexpected " + label);
      }
      layout.blocks.push_back(index_list(m, row));
    }
  }
  auto valid = [&](int j) { return j >= 0 && j < layout.n_attr; };
  for (const auto& list : {layout.ignored, layout.discrete}) {
    for (int j : list) {
      if (!valid(j)) m.fail("attribute index out of range");
    }
  }
  for (const auto& block : layout.blocks) {
    if (block.empty()) m.fail("empty Gauss block");
    for (int j : block) {
      if (!valid(j)) m.fail("attribute index out of range");
    }
  }
  return layout;
}

void add_settings(const SectionFile& log, std::string_view id, RunData* run) {
  const DataMatrix* m = log.find(id);
  if (m == nullptr) return;
  for (size_t r = 0; r < m->rows.size(); ++r) {
    if (m->rows[r].size() >= 2) run->settings.push_back({m->rows[r][0], row_value(*m, r)});
  }
}

void read_scores(const DataMatrix& score, RunData* run) {
  std::string optimal = score.note_value("Optimal num. of classes = ");
  if (optimal.empty() || !try_parse_int(optimal.c_str(), &run->chosen_k)) {
    score.fail("no note \"Optimal num. of classes = \"");
  }
  if (run->program == "rumel") {
    run->criterion = score.note_value("Selected criterion = ");
    score.require_fields(3);
    ScoreSeries bic{"BIC", {}, {}};
    ScoreSeries cs{"Cheeseman-Stutz (AUTOCLASS)", {}, {}};
    for (size_t r = 0; r < score.rows.size(); ++r) {
      int k = score.integer(r, 0);
      bic.k.push_back(k);
      bic.value.push_back(score.real(r, 1));
      if (score.field(r, 2) == "N/A") continue;
      cs.k.push_back(k);
      cs.value.push_back(score.real(r, 2));
    }
    run->scores = {bic, cs};
  } else {
    score.require_fields(2);
    ScoreSeries fe{"Variational free energy", {}, {}};
    for (size_t r = 0; r < score.rows.size(); ++r) {
      fe.k.push_back(score.integer(r, 0));
      fe.value.push_back(score.real(r, 1));
    }
    run->scores = {fe};
  }
}

// The objective column of one learning-curve row: the free energy, or for
// rumel the log likelihood (ML) or log posterior (MAP, two more columns).
void read_curve(const DataMatrix& m, bool smem, bool rumel, bool daem, LearningCurve* curve) {
  size_t first = smem ? 2 : 1;  // the update number
  if (m.rows.empty()) m.fail("no rows");
  size_t n = m.rows[0].size();
  size_t base = first + 2 + (daem ? 1 : 0);
  bool map = rumel && n == base + 2;
  if (n != base && !map) m.fail_row(0, "unexpected number of fields");
  curve->objective = !rumel ? "Variational free energy" : map ? "Log a posteriori prob." : "Log likelihood";
  size_t objective = map ? first + 3 : first + 1;
  for (size_t r = 0; r < m.rows.size(); ++r) {
    if (m.rows[r].size() != n) m.fail_row(r, "unexpected number of fields");
    if (smem) curve->operation.push_back(m.integer(r, 1));
    curve->update.push_back(m.integer(r, first));
    curve->value.push_back(m.real(r, objective));
    if (daem) curve->beta.push_back(m.real(r, n - 1));
  }
}

void read_restarts(const DataMatrix& seed, RunData* run) {
  seed.require_fields(5);
  for (size_t r = 0; r < seed.rows.size(); ++r) {
    if (seed.integer(r, 0) != run->chosen_k) continue;
    Restart restart;
    restart.restart = seed.integer(r, 1);
    restart.seed = seed.field(r, 2);
    restart.updates = seed.integer(r, 3);
    restart.objective = seed.real(r, seed.rows[r].size() - 1);
    run->restarts.push_back(restart);
  }
}

}  // namespace

std::vector<int> AttrLayout::shown() const {
  std::vector<bool> hidden(static_cast<size_t>(n_attr), false);
  for (int j : ignored) hidden[static_cast<size_t>(j)] = true;
  if (id_attr >= 0 && id_attr < n_attr) hidden[static_cast<size_t>(id_attr)] = true;
  if (answer_attr >= 0 && answer_attr < n_attr) hidden[static_cast<size_t>(answer_attr)] = true;
  std::vector<int> list;
  for (int j = 0; j < n_attr; ++j) {
    if (!hidden[static_cast<size_t>(j)]) list.push_back(j);
  }
  return list;
}

void read_log(const SectionFile& log, RunData* run) {
  log.need("SETTING-VERSION");
  const DataMatrix& function = log.need("SETTING-FUNCTION");
  run->program = row_of(function, "Reading parameters") >= 0 ? "rumel" : "rumelvb";
  bool rumel = run->program == "rumel";
  run->fitted = !enabled(function, rumel ? "Reading parameters" : "Reading hyperparameters");
  run->daem = enabled(function, "Deterministic annealing EM");
  run->layout = read_layout(log.need("SETTING-MODEL-BASE"));
  if (const DataMatrix* files = log.find("SETTING-FILE"); files != nullptr) {
    for (const auto& row : files->rows) {
      if (row.size() >= 3 && row[0] == "Input" && row[1] == "Cases") run->case_file = row[2];
    }
  }

  for (const char* id : {"SETTING-MODEL-BASE", "SETTING-EM", "SETTING-SELECT", "SETTING-DAEM", "SETTING-SMEM"}) {
    add_settings(log, id, run);
  }
  if (const DataMatrix* size = log.find("DATASIZE"); size != nullptr && !size->rows.empty()) {
    run->settings.push_back({"Total num. of cases", size->field(0, 0)});
  }

  // The cluster sizes close the log: without them the run did not finish.
  const DataMatrix& sizes = log.need("CLUSTER-FREQ-CASE");
  sizes.require_fields(2);
  for (size_t r = 0; r < sizes.rows.size(); ++r) {
    if (sizes.integer(r, 0) != static_cast<int>(r)) sizes.fail_row(r, "clusters out of order");
    long size = sizes.integer(r, 1);
    if (size < 0) sizes.fail_row(r, "negative cluster size");
    run->cluster_sizes.push_back(size);
  }
  if (run->cluster_sizes.empty()) sizes.fail("no clusters");
  for (int j : run->layout.discrete) log.need("CLUSTER-FREQ-CAT" + std::to_string(j));
  for (size_t g = 0; g < run->layout.blocks.size(); ++g) log.need("CLUSTER-FREQ-GAUSS" + std::to_string(g));

  run->chosen_k = static_cast<int>(run->cluster_sizes.size());
  if (!run->fitted) return;
  read_scores(log.need("SCORE"), run);
  if (run->chosen_k != static_cast<int>(run->cluster_sizes.size())) {
    sizes.fail("cluster count differs from the optimal number of classes");
  }
  std::string k = std::to_string(run->chosen_k);
  const char* curve_id = rumel ? "LOGLIKE-" : "FREE-ENERGY-";
  if (const DataMatrix* plain = log.find(curve_id + ("K" + k)); plain != nullptr) {
    read_curve(*plain, false, rumel, run->daem, &run->curve);
  } else if (const DataMatrix* smem = log.find(curve_id + ("SMEM-K" + k)); smem != nullptr) {
    read_curve(*smem, true, rumel, run->daem, &run->curve);
  }
  const DataMatrix* seed = log.find("SEED-K" + k);
  read_restarts(seed != nullptr ? *seed : log.need("SEED"), run);
}

}  // namespace veska
