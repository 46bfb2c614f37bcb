#include "report/html_page.h"

#include <cstdio>
#include <unistd.h>

#include "common/misc.h"
#include "report/plots.h"
#include "report/svg.h"

namespace veska {

namespace {

const char kStyle[] = R"(<style>
body { font-family: sans-serif; margin: 24px auto; max-width: 1000px; color: #222; padding: 0 16px; }
h1 { font-size: 22px; margin-bottom: 4px; }
h2 { font-size: 18px; border-bottom: 1px solid #ccc; padding-bottom: 3px; margin-top: 28px; }
h3 { font-size: 15px; margin: 16px 0 4px; }
.sub { color: #555; margin-top: 0; }
figure { margin: 8px 0 16px; break-inside: avoid; }
figcaption { font-size: 13px; color: #444; max-width: 640px; }
table { border-collapse: collapse; font-size: 13px; margin: 6px 0 12px; }
td, th { border: 1px solid #ddd; padding: 3px 8px; text-align: left; vertical-align: top; }
th { background: #f3f3f3; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
.key { font-weight: bold; }
.cols { display: flex; flex-wrap: wrap; gap: 16px; align-items: flex-start; }
section { break-inside: avoid-page; }
@media print { body { margin: 0; max-width: none; } h2 { break-after: avoid; } }
</style>
)";

std::string esc(const std::string& text) { return escape_xml(text); }

std::string figure(const std::string& svg, const std::string& caption) {
  return "<figure>" + svg + "<figcaption>" + caption + "</figcaption></figure>\n";
}

std::string grouped(long n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-') out += ',';
    out += digits[i];
  }
  return out;
}

std::string settings_section(const RunData& run) {
  std::vector<KeyValue> rows = {{"Program", run.program}, {"Chosen number of classes", std::to_string(run.chosen_k)}};
  if (!run.criterion.empty()) rows.push_back({"Selected criterion", run.criterion});
  if (!run.model_file.empty()) rows.push_back({"Model file", run.model_file});
  rows.insert(rows.end(), run.settings.begin(), run.settings.end());
  // Two pairs of columns side by side keep the table short.
  size_t half = (rows.size() + 1) / 2;
  std::string html = "<h2>Run</h2>\n<table>\n";
  for (size_t i = 0; i < half; ++i) {
    html += "<tr><td class=\"key\">" + esc(rows[i].key) + "</td><td>" + esc(rows[i].value) + "</td>";
    if (i + half < rows.size()) {
      html += "<td class=\"key\">" + esc(rows[i + half].key) + "</td><td>" + esc(rows[i + half].value) + "</td>";
    }
    html += "</tr>\n";
  }
  return html + "</table>\n";
}

std::string fitting_section(const RunData& run) {
  if (!run.fitted) return "";
  std::string html = "<h2>Model selection and fitting</h2>\n";
  if (!run.scores.empty() && run.scores[0].k.size() > 1) {
    std::string caption = "Score of every number of classes tried; the chosen K = " + std::to_string(run.chosen_k) +
                          " is marked" + (run.program == "rumel" ? " (criterion: " + esc(run.criterion) + ")." : " (largest free energy).");
    if (run.scores.size() > 1 && run.scores[1].k.size() < run.scores[0].k.size()) {
      caption += " K values without a Cheeseman-Stutz score are left out of that line.";
    }
    html += figure(score_plot(run.scores, run.chosen_k), caption);
  }
  if (!run.curve.value.empty()) {
    std::string note;
    std::string svg = learning_curve_plot(run.curve, &note);
    std::string caption = "Learning curve of the kept run for K = " + std::to_string(run.chosen_k) + ": " +
                          esc(run.curve.objective) + " after each update (" + std::to_string(run.curve.value.size()) + " recorded).";
    if (!run.curve.beta.empty()) caption += " Dotted orange lines start a new annealing stage; the orange line is the inverse temperature.";
    if (!run.curve.operation.empty()) caption += " Dashed purple lines start a split-and-merge operation.";
    if (!note.empty()) caption += " " + esc(note);
    html += figure(svg, caption);
  }
  if (run.restarts.size() > 1) {
    html += figure(restarts_plot(run.restarts, run.curve.objective.empty() ? "Final objective" : run.curve.objective),
                   "Final objective of each of the " + std::to_string(run.restarts.size()) + " restarts for K = " +
                       std::to_string(run.chosen_k) + "; the best (diamond) is the one kept.");
  }
  return html;
}

std::string clusters_section(const RunData& run) {
  long total = 0;
  for (long s : run.cluster_sizes) total += s;
  std::string html = "<h2>Clusters</h2>\n";
  html += figure(cluster_sizes_plot(run.cluster_sizes, run.class_weights),
                 "Entries assigned to each cluster (class of largest membership probability), " + grouped(total) +
                     " in all" + (run.class_weights.empty() ? "." : "; the class weight is the model's expected class probability."));
  return html;
}

std::string discrete_section(const RunData& run, const ReportSettings& settings) {
  if (run.discrete.empty()) return "";
  std::string html = "<h2>Discrete attributes</h2>\n";
  html += "<p>Probability of each value within each class, " +
          std::string(run.program == "rumel" ? "the fitted parameters." : "expected from the posterior pseudo counts.") + "</p>\n<div class=\"cols\">\n";
  for (const DiscreteTable& table : run.discrete) {
    int left_out = 0;
    HeatMap map = discrete_heat_map(table, settings.max_values, &left_out);
    std::string caption = "Attribute " + std::to_string(table.attr) + " (" + esc(table.name) + "), " +
                          std::to_string(table.values.size()) + " values";
    if (left_out > 0) caption += "; the " + std::to_string(map.rows.size()) + " with the largest probability in some class shown";
    html += "<div><h3>" + esc(table.name) + "</h3>\n" + figure(heat_map(map), caption + ".") + "</div>\n";
  }
  return html + "</div>\n";
}

std::string gauss_section(const RunData& run) {
  std::string html;
  for (size_t g = 0; g < run.layout.blocks.size(); ++g) {
    const GaussBlock* block = g < run.blocks.size() ? &run.blocks[g] : nullptr;
    const Scatter* scatter = nullptr;
    for (const Scatter& s : run.scatters) {
      if (s.g == static_cast<int>(g)) scatter = &s;
    }
    if (block == nullptr && scatter == nullptr) continue;
    std::string names;
    for (size_t d = 0; d < run.layout.blocks[g].size(); ++d) {
      if (d > 0) names += ", ";
      names += block != nullptr ? block->names[d] : "X" + std::to_string(run.layout.blocks[g][d]);
    }
    html += "<h2>Gaussian block " + std::to_string(g) + ": " + esc(names) + "</h2>\n";
    if (block != nullptr) {
      html += figure(means_plot(*block), std::string("Mean of each class with one standard deviation either side, per attribute") +
                                             (run.program == "rumel" ? "." : " (the covariance hyperparameter divided by its degrees of freedom)."));
    }
    if (scatter != nullptr && !scatter->x.empty()) {
      long shown = static_cast<long>(scatter->x.size());
      std::string caption = "Cases coloured by their cluster, on ";
      caption += scatter->projected ? "the block's first two principal axes (of the cases shown)" : "the block's attributes";
      caption += ". ";
      if (run.values_from_case_file) caption += "The values come from the case file " + esc(run.case_file) + ". ";
      long drawn = shown + scatter->incomplete + scatter->unreadable;
      if (drawn < scatter->entries) {
        caption += "A sample of " + grouped(drawn) + " of the " + grouped(scatter->entries) +
                   " cases, evenly spread over the cluster file (the same sample every time).";
      } else {
        caption += "All " + grouped(scatter->entries) + " cases.";
      }
      if (scatter->incomplete > 0) caption += " " + grouped(scatter->incomplete) + " with a missing value left out.";
      if (scatter->unreadable > 0) caption += " " + grouped(scatter->unreadable) + " whose row has more fields than attributes (a value holding the delimiter) left out.";
      html += figure(scatter_plot(*scatter, static_cast<int>(run.cluster_sizes.size())), caption);
    } else if (run.values_hidden) {
      html += "<p>The run hid the attribute values (--hide-attr) and its case file was not found or does not match, "
              "so there are no cases to draw.</p>\n";
    }
  }
  return html;
}

std::string evaluation_section(const RunData& run) {
  if (!run.has_eval) return "";
  const Evaluation& e = run.eval;
  std::string html = "<h2>Clusters against the answer class</h2>\n";
  html += "<p><b>Purity " + number_text(e.purity, 4) + "</b> &middot; <b>adjusted Rand index " +
          number_text(e.adjusted_rand, 4) + "</b> &middot; <b>normalized mutual information " + number_text(e.nmi, 4) +
          "</b></p>\n";
  html += figure(heat_map(confusion_heat_map(e)), "Cases of each answer class in each cluster.");
  html += "<table><tr><th>Measure</th><th>Value</th></tr>\n";
  for (const KeyValue& kv : e.measures) {
    html += "<tr><td>" + esc(kv.key) + "</td><td class=\"num\">" + esc(kv.value) + "</td></tr>\n";
  }
  return html + "</table>\n";
}

std::string ranking_section(const RunData& run) {
  if (run.ranking.empty()) return "";
  bool values = !run.layout.discrete.empty();
  std::string html = std::string("<h2>Most relevant ") + (values ? "values" : "cases") + " per class</h2>\n";
  html += "<p>Classes by decreasing probability; within each, by decreasing membership probability P(k|" +
          std::string(values ? "value" : "case") + ").</p>\n<div class=\"cols\">\n";
  for (const ClassRanking& c : run.ranking) {
    html += "<table><tr><th colspan=\"3\">Class " + std::to_string(c.k) + " (P(k) = " + number_text(c.class_prob, 3) + ")</th></tr>\n";
    html += values ? "<tr><th>Attribute</th><th>Value</th><th>P(k|x)</th></tr>\n"
                   : "<tr><th>Case</th><th>Answer class</th><th>P(k|x)</th></tr>\n";
    for (const RankedValue& v : c.values) {
      html += "<tr><td>" + esc(v.attr) + "</td><td>" + esc(v.value) + "</td><td class=\"num\">" + number_text(v.prob, 4) + "</td></tr>\n";
    }
    html += "</table>\n";
  }
  return html + "</div>\n";
}

}  // namespace

std::string render_page(const RunData& run, const ReportSettings& settings) {
  std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>VESKA report: " +
                     esc(run.base) + "</title>\n" + kStyle + "</head>\n<body>\n";
  html += "<h1>VESKA report: " + esc(run.base) + "</h1>\n";
  html += "<p class=\"sub\">" + esc(run.program) + (run.fitted ? " fit" : " run on a read model") + ", " +
          std::to_string(run.chosen_k) + " classes</p>\n";
  html += settings_section(run);
  html += fitting_section(run);
  html += clusters_section(run);
  html += discrete_section(run, settings);
  html += gauss_section(run);
  html += evaluation_section(run);
  html += ranking_section(run);
  return html + "</body>\n</html>\n";
}

void write_page(const std::string& path, const std::string& page) {
  std::string temp = path + ".tmp" + std::to_string(getpid());
  FILE* f = fopen(temp.c_str(), "wb");
  if (f == nullptr) die_stderr("Couldn't open %s\n", path.c_str());
  bool ok = fwrite(page.data(), 1, page.size(), f) == page.size();
  ok = fclose(f) == 0 && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    remove(temp.c_str());
    die_stderr("Couldn't write %s\n", path.c_str());
  }
}

}  // namespace veska
