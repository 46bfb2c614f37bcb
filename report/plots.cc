#include "report/plots.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "report/svg.h"

namespace veska {

namespace {

constexpr double kWidth = 640, kHeight = 320;
constexpr double kLeft = 84, kTop = 24, kPlotW = 520, kPlotH = 230;

std::pair<double, double> range_of(const std::vector<double>& v) {
  auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  return {*lo, *hi};
}

void legend_entry(Svg& svg, double x, double y, std::string_view colour, std::string_view label, bool dashed) {
  svg.line(x, y - 4, x + 22, y - 4, colour, 2.0, dashed ? "5 3" : "");
  svg.text(x + 28, y, label, "start", 11);
}

}  // namespace

std::string score_plot(const std::vector<ScoreSeries>& scores, int chosen_k) {
  std::vector<double> ks, values;
  for (const ScoreSeries& s : scores) {
    for (size_t i = 0; i < s.k.size(); ++i) {
      ks.push_back(s.k[i]);
      values.push_back(s.value[i]);
    }
  }
  Svg svg(kWidth, kHeight + 20, "Score against the number of classes");
  if (ks.empty()) return svg.str();
  auto [klo, khi] = range_of(ks);
  auto [vlo, vhi] = range_of(values);
  Frame f = draw_frame(svg, kLeft, kTop, kPlotW, kPlotH, std::min<double>(klo, chosen_k),
                       std::max<double>(khi, chosen_k), vlo, vhi, "Number of classes K",
                       scores.size() == 1 ? scores[0].name : "Score", true);
  svg.line(f.px(chosen_k), kTop, f.px(chosen_k), kTop + kPlotH, "#555555", 1.0, "4 3");
  svg.text(f.px(chosen_k) + 4, kTop + kPlotH - 8, "chosen K = " + std::to_string(chosen_k), "start", 11);
  for (size_t s = 0; s < scores.size(); ++s) {
    std::vector<std::pair<double, double>> points;
    for (size_t i = 0; i < scores[s].k.size(); ++i) points.emplace_back(f.px(scores[s].k[i]), f.py(scores[s].value[i]));
    svg.polyline(points, cluster_colour(static_cast<int>(s)), 2.0);
    for (size_t i = 0; i < points.size(); ++i) {
      bool chosen = scores[s].k[i] == chosen_k;
      svg.marker(points[i].first, points[i].second, static_cast<int>(s) + (s > 0 ? 8 : 0), chosen ? 11 : 7,
                 scores[s].name + ", K = " + std::to_string(scores[s].k[i]) + ": " + number_text(scores[s].value[i], 12));
    }
    legend_entry(svg, kLeft + 10 + 260 * static_cast<double>(s), kHeight + 12, cluster_colour(static_cast<int>(s)),
                 scores[s].name, false);
  }
  return svg.str();
}

std::string learning_curve_plot(const LearningCurve& curve, std::string* note) {
  Svg svg(kWidth, kHeight + 20, "Learning curve");
  note->clear();
  size_t n = curve.value.size();
  if (n == 0) return svg.str();
  // The random start often lies orders of magnitude below the converged
  // objective; drawing it would flatten everything else.
  size_t from = 0;
  if (n > 2) {
    std::vector<double> rest(curve.value.begin() + 1, curve.value.end());
    auto [lo, hi] = range_of(rest);
    if (curve.value[0] < lo - 2 * std::max(hi - lo, 1e-12)) {
      from = 1;
      *note = "The start (update " + std::to_string(curve.update[0]) + ", " + number_text(curve.value[0], 8) +
              ") lies below the drawn range.";
    }
  }
  std::vector<double> shown(curve.value.begin() + static_cast<long>(from), curve.value.end());
  auto [vlo, vhi] = range_of(shown);
  bool smem = !curve.operation.empty();
  Frame f = draw_frame(svg, kLeft, kTop, kPlotW, kPlotH, 0, static_cast<double>(n - 1), vlo, vhi,
                       smem ? "Update (all split-and-merge operations in turn)" : "Update", curve.objective, n < 12);
  // Stage and operation boundaries.
  for (size_t i = 1; i < n; ++i) {
    if (!curve.beta.empty() && curve.beta[i] != curve.beta[i - 1]) {
      svg.line(f.px(i), kTop, f.px(i), kTop + kPlotH, "#E69F00", 1.0, "2 3");
    }
    if (smem && curve.operation[i] != curve.operation[i - 1]) {
      svg.line(f.px(i), kTop, f.px(i), kTop + kPlotH, "#CC79A7", 1.0, "6 3");
      svg.text(f.px(i) + 2, kTop + 10, "op " + std::to_string(curve.operation[i]), "start", 9);
    }
  }
  std::vector<std::pair<double, double>> points;
  for (size_t i = from; i < n; ++i) points.emplace_back(f.px(static_cast<double>(i)), f.py(curve.value[i]));
  svg.polyline(points, cluster_colour(0), 2.0);
  legend_entry(svg, kLeft + 10, kHeight + 12, cluster_colour(0), curve.objective, false);
  if (!curve.beta.empty()) {
    // Inverse temperature on its own scale, 0 to 1, at the right.
    std::vector<std::pair<double, double>> beta;
    for (size_t i = 0; i < n; ++i) {
      double b = std::clamp(curve.beta[i], 0.0, 1.0);
      beta.emplace_back(f.px(static_cast<double>(i)), kTop + kPlotH - b * kPlotH);
    }
    svg.polyline(beta, "#E69F00", 1.5);
    for (double t : {0.0, 0.5, 1.0}) svg.text(kLeft + kPlotW + 6, kTop + kPlotH - t * kPlotH + 4, number_text(t), "start", 10);
    legend_entry(svg, kLeft + 280, kHeight + 12, "#E69F00", "Inverse temperature (right scale, 0 to 1)", false);
  }
  return svg.str();
}

std::string restarts_plot(const std::vector<Restart>& restarts, const std::string& objective) {
  Svg svg(kWidth, kHeight, "Final objective of each restart");
  if (restarts.empty()) return svg.str();
  std::vector<double> values, ids;
  size_t best = 0;
  for (size_t i = 0; i < restarts.size(); ++i) {
    values.push_back(restarts[i].objective);
    ids.push_back(restarts[i].restart);
    if (restarts[i].objective > restarts[best].objective) best = i;
  }
  auto [vlo, vhi] = range_of(values);
  auto [rlo, rhi] = range_of(ids);
  Frame f = draw_frame(svg, kLeft, kTop, kPlotW, kPlotH, rlo, rhi, vlo, vhi, "Restart", objective, true);
  for (size_t i = 0; i < restarts.size(); ++i) {
    double x = f.px(restarts[i].restart), y = f.py(restarts[i].objective);
    std::string tip = "Restart " + std::to_string(restarts[i].restart) + ": " + number_text(restarts[i].objective, 12) +
                      " after " + std::to_string(restarts[i].updates) + " updates, seed " + restarts[i].seed;
    // The best as a vermillion diamond (colour 3, fourth shape).
    svg.marker(x, y, i == best ? 27 : 0, i == best ? 12 : 8, tip);
  }
  svg.text(f.px(restarts[best].restart) + 9, f.py(restarts[best].objective) + 4, "best", "start", 11);
  return svg.str();
}

std::string cluster_sizes_plot(const std::vector<long>& sizes, const std::vector<double>& weights) {
  double bar = 22, gap = 8;
  double height = kTop + static_cast<double>(sizes.size()) * (bar + gap) + 50;
  Svg svg(kWidth, height, "Cases per cluster");
  double max_size = 1;
  for (long s : sizes) max_size = std::max(max_size, static_cast<double>(s));
  double width = 400;
  for (size_t k = 0; k < sizes.size(); ++k) {
    double y = kTop + static_cast<double>(k) * (bar + gap);
    svg.text(kLeft - 8, y + bar / 2 + 4, "Cluster " + std::to_string(k), "end", 12);
    double w = width * static_cast<double>(sizes[k]) / max_size;
    svg.rect(kLeft, y, std::max(w, 0.5), bar, cluster_colour(static_cast<int>(k)),
             "Cluster " + std::to_string(k) + ": " + std::to_string(sizes[k]) + " cases");
    std::string label = std::to_string(sizes[k]);
    if (k < weights.size()) label += "  (class weight " + number_text(weights[k], 3) + ")";
    svg.text(kLeft + w + 6, y + bar / 2 + 4, label, "start", 11);
  }
  double axis_y = kTop + static_cast<double>(sizes.size()) * (bar + gap);
  svg.line(kLeft, axis_y, kLeft + width, axis_y, "#333333");
  svg.text(kLeft + width / 2, axis_y + 20, "Number of cases (entries) assigned", "middle", 12);
  return svg.str();
}

std::string heat_map(const HeatMap& map) {
  size_t longest_column = 0;
  for (const std::string& c : map.columns) longest_column = std::max(longest_column, c.size());
  for (const auto& row : map.text)
    for (const std::string& t : row) longest_column = std::max(longest_column, t.size());
  double cell_w = std::clamp(static_cast<double>(longest_column) * 6.5 + 12, 46.0, 140.0);
  size_t column_chars = static_cast<size_t>(cell_w / 6.5);
  double cell_h = 20;
  size_t longest = 0;
  for (const std::string& r : map.rows) longest = std::max(longest, r.size());
  double left = std::clamp(static_cast<double>(longest) * 6.5 + 16, 60.0, 220.0);
  double top = 44;
  double grid_w = cell_w * static_cast<double>(map.columns.size());
  double width = left + grid_w + 110;
  double height = top + cell_h * static_cast<double>(map.rows.size()) + 40;
  Svg svg(width, height, map.label);
  svg.text(left + grid_w / 2, 14, map.column_title, "middle", 12);
  for (size_t c = 0; c < map.columns.size(); ++c) {
    std::string col = map.columns[c].size() > column_chars ? map.columns[c].substr(0, column_chars - 1) + "…" : map.columns[c];
    svg.text(left + cell_w * (static_cast<double>(c) + 0.5), top - 8, col, "middle", 11);
  }
  svg.text(12, top - 8, map.row_title, "start", 12);
  for (size_t r = 0; r < map.rows.size(); ++r) {
    double y = top + cell_h * static_cast<double>(r);
    std::string row = map.rows[r].size() > 32 ? map.rows[r].substr(0, 31) + "…" : map.rows[r];
    svg.text(left - 6, y + cell_h / 2 + 4, row, "end", 11);
    for (size_t c = 0; c < map.columns.size(); ++c) {
      double t = map.max_value > 0 ? map.value[r][c] / map.max_value : 0.0;
      double x = left + cell_w * static_cast<double>(c);
      svg.rect(x, y, cell_w - 1, cell_h - 1, ramp_colour(t), map.rows[r] + " / " + map.columns[c] + ": " + map.text[r][c]);
      svg.text(x + cell_w / 2, y + cell_h / 2 + 4, map.text[r][c], "middle", 10, std::string("fill=\"") + ramp_text_colour(t) + "\"");
    }
  }
  // Colour legend.
  double lx = left + grid_w + 24, ly = top, lh = std::max(60.0, cell_h * static_cast<double>(map.rows.size()));
  for (int i = 0; i < 20; ++i) svg.rect(lx, ly + lh * i / 20.0, 14, lh / 20.0 + 0.5, ramp_colour(1.0 - i / 19.0));
  svg.text(lx + 18, ly + 10, number_text(map.max_value, 3), "start", 10);
  svg.text(lx + 18, ly + lh, "0", "start", 10);
  svg.text(lx, ly + lh + 16, map.legend, "start", 10);
  return svg.str();
}

HeatMap discrete_heat_map(const DiscreteTable& table, int max_values, int* left_out) {
  size_t V = table.values.size(), K = table.prob.size();
  std::vector<double> peak(V, 0.0);
  for (size_t v = 0; v < V; ++v)
    for (size_t k = 0; k < K; ++k) peak[v] = std::max(peak[v], table.prob[k][v]);
  std::vector<size_t> order(V);
  std::iota(order.begin(), order.end(), 0);
  size_t keep = std::min(V, static_cast<size_t>(std::max(1, max_values)));
  if (keep < V) {
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return peak[a] > peak[b]; });
    order.resize(keep);
    std::sort(order.begin(), order.end());  // back to the file's value order
  }
  *left_out = static_cast<int>(V - keep);
  HeatMap map;
  map.label = "Value probabilities of " + table.name;
  map.row_title = table.name;
  map.column_title = "Class k";
  map.legend = "P(value | class)";
  for (size_t k = 0; k < K; ++k) map.columns.push_back(std::to_string(k));
  for (size_t v : order) {
    map.rows.push_back(table.values[v]);
    std::vector<double> row;
    std::vector<std::string> text;
    for (size_t k = 0; k < K; ++k) {
      row.push_back(table.prob[k][v]);
      text.push_back(number_text(table.prob[k][v], 2));
    }
    map.value.push_back(row);
    map.text.push_back(text);
  }
  return map;
}

HeatMap confusion_heat_map(const Evaluation& eval) {
  HeatMap map;
  map.label = "Clusters against answer classes";
  map.row_title = "Cluster";
  map.column_title = "Answer class";
  map.legend = "cases";
  map.columns = eval.answers;
  map.max_value = 0;
  for (size_t k = 0; k < eval.counts.size(); ++k) {
    map.rows.push_back("Cluster " + std::to_string(k));
    std::vector<double> row;
    std::vector<std::string> text;
    for (long c : eval.counts[k]) {
      row.push_back(static_cast<double>(c));
      text.push_back(std::to_string(c));
      map.max_value = std::max(map.max_value, static_cast<double>(c));
    }
    map.value.push_back(row);
    map.text.push_back(text);
  }
  return map;
}

std::string means_plot(const GaussBlock& block) {
  size_t D = block.names.size(), K = block.mean.size();
  size_t per_row = std::min<size_t>(D, 3);
  size_t panel_rows = (D + per_row - 1) / per_row;
  double pw = 210, ph = 200;
  Svg svg(pw * static_cast<double>(per_row) + 20, ph * static_cast<double>(panel_rows) + 10,
          "Class means with one standard deviation");
  for (size_t d = 0; d < D; ++d) {
    double ox = pw * static_cast<double>(d % per_row), oy = ph * static_cast<double>(d / per_row);
    double lo = INFINITY, hi = -INFINITY;
    for (size_t k = 0; k < K; ++k) {
      lo = std::min(lo, block.mean[k][d] - block.sd[k][d]);
      hi = std::max(hi, block.mean[k][d] + block.sd[k][d]);
    }
    Frame f = draw_frame(svg, ox + 70, oy + 22, pw - 90, ph - 70, 0, static_cast<double>(K - 1), lo, hi, "Class k",
                         "", true);
    svg.text(ox + 70 + (pw - 90) / 2, oy + 14, block.names[d], "middle", 12, "font-weight=\"bold\"");
    for (size_t k = 0; k < K; ++k) {
      double x = f.px(static_cast<double>(k));
      double m = block.mean[k][d], s = block.sd[k][d];
      const char* colour = cluster_colour(static_cast<int>(k));
      svg.line(x, f.py(m - s), x, f.py(m + s), colour, 2.0);
      svg.line(x - 5, f.py(m - s), x + 5, f.py(m - s), colour, 2.0);
      svg.line(x - 5, f.py(m + s), x + 5, f.py(m + s), colour, 2.0);
      svg.marker(x, f.py(m), static_cast<int>(k), 9,
                 block.names[d] + ", class " + std::to_string(k) + ": mean " + number_text(m) + ", sd " + number_text(s));
    }
  }
  return svg.str();
}

std::string scatter_plot(const Scatter& s, int n_clusters) {
  double height = kHeight + 30 + 18.0 * ((n_clusters + 5) / 6);
  Svg svg(kWidth, height, "Cases coloured by cluster");
  if (s.x.empty()) return svg.str();
  auto [xlo, xhi] = range_of(s.x);
  auto [ylo, yhi] = range_of(s.y);
  Frame f = draw_frame(svg, kLeft, kTop, kPlotW, kPlotH, xlo, xhi, ylo, yhi, s.x_label, s.y_label, false);
  for (size_t i = 0; i < s.x.size(); ++i) {
    svg.marker(f.px(s.x[i]), f.py(s.y[i]), s.cluster[i], 5);
  }
  for (int k = 0; k < n_clusters; ++k) {
    double x = kLeft + 90.0 * (k % 6), y = kHeight + 22 + 18.0 * (k / 6);
    svg.marker(x, y - 4, k, 8);
    svg.text(x + 8, y, "Cluster " + std::to_string(k), "start", 11);
  }
  return svg.str();
}

}  // namespace veska
