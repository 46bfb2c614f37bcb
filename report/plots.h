// The pictures of the report, each an SVG text drawn from RunData alone.
#pragma once

#include <string>
#include <vector>

#include "report/run_data.h"

namespace veska {

// Score of every K with the chosen K marked.
std::string score_plot(const std::vector<ScoreSeries>& scores, int chosen_k);
// The objective per update; annealing stages and split-and-merge operations
// marked. A first value far below the rest (the random start) is left out of
// the range and said in *note.
std::string learning_curve_plot(const LearningCurve& curve, std::string* note);
// Final objective of each restart, the best one marked.
std::string restarts_plot(const std::vector<Restart>& restarts, const std::string& objective);
// Cases per cluster, with the model's class weight when known.
std::string cluster_sizes_plot(const std::vector<long>& sizes, const std::vector<double>& weights);

// A table of numbers as coloured cells: rows x columns, value[r][c] scaled
// by `max_value` onto the colour ramp, each cell labelled with its text.
struct HeatMap {
  std::string label;
  std::string row_title, column_title;
  std::vector<std::string> rows, columns;
  std::vector<std::vector<double>> value;
  std::vector<std::vector<std::string>> text;
  double max_value = 1.0;
  std::string legend;  // what the colour means
};
std::string heat_map(const HeatMap& map);

// Value probabilities of one attribute (values as rows, classes as columns),
// at most max_values rows: those with the largest probability in any class.
HeatMap discrete_heat_map(const DiscreteTable& table, int max_values, int* left_out);
HeatMap confusion_heat_map(const Evaluation& eval);

// Per dimension of a block: each class's mean with one standard deviation.
std::string means_plot(const GaussBlock& block);
std::string scatter_plot(const Scatter& scatter, int n_clusters);

}  // namespace veska
