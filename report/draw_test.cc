// The drawing rules: ticks, colours, principal axes and the heat-map cut.
#include <cmath>
#include <gtest/gtest.h>
#include <random>

#include "report/plots.h"
#include "report/principal_axes.h"
#include "report/svg.h"

namespace veska {
namespace {

TEST(Draw, NiceTicksCoverTheRangeInRoundEqualSteps) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> centre(-1e6, 1e6), scale(-8, 8);
  for (int trial = 0; trial < 2000; ++trial) {
    double width = std::pow(10.0, scale(gen));
    double lo = centre(gen) * std::pow(10.0, scale(gen) / 4);
    double hi = lo + std::max(width, 1e-6 * std::fabs(lo)) * (trial % 3);
    std::vector<double> t = nice_ticks(lo, hi, 5);
    ASSERT_GE(t.size(), 2u);
    ASSERT_LE(t.size(), 13u);
    EXPECT_LE(t.front(), lo);
    EXPECT_GE(t.back(), hi - (t[1] - t[0]) * 1e-9);
    // Tick positions carry the rounding of their magnitude.
    double step = t[1] - t[0];
    double slack = 1e-14 * std::max(std::fabs(t.front()), std::fabs(t.back())) / step + 1e-9;
    double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-6));
    EXPECT_TRUE(std::fabs(mantissa - 1) < slack * 10 || std::fabs(mantissa - 2) < slack * 10 ||
                std::fabs(mantissa - 5) < slack * 10)
        << step;
    for (size_t i = 1; i < t.size(); ++i) EXPECT_NEAR(t[i] - t[i - 1], step, step * slack * 4);
  }
}

// Restarts that converged to nearly the same objective still get tick
// labels a reader can tell apart.
TEST(Draw, TickLabelsResolveTheirStep) {
  Svg svg(400, 300, "t");
  const Frame f = draw_frame(svg, 50, 10, 300, 200, 0, 4, -2388.71818, -2388.71722, "x", "y", true);
  std::vector<std::string> labels;
  const std::string body = svg.str();
  for (size_t at = body.find("text-anchor=\"end\""); at != std::string::npos;
       at = body.find("text-anchor=\"end\"", at + 1)) {
    const size_t open = body.find('>', at) + 1;
    labels.push_back(body.substr(open, body.find('<', open) - open));
  }
  ASSERT_GE(labels.size(), 3u);
  for (size_t i = 1; i < labels.size(); ++i) EXPECT_NE(labels[i], labels[i - 1]) << labels[i];
  EXPECT_LT(f.y_lo, -2388.71818);
}

TEST(Draw, ColoursAndEscapes) {
  EXPECT_EQ(ramp_colour(0.0), "#440154");
  EXPECT_EQ(ramp_colour(1.0), "#fde725");
  EXPECT_EQ(ramp_colour(-3.0), ramp_colour(0.0));
  EXPECT_EQ(ramp_colour(NAN), ramp_colour(0.0));
  EXPECT_STREQ(cluster_colour(9), cluster_colour(1));
  EXPECT_STRNE(cluster_colour(0), cluster_colour(7));
  EXPECT_EQ(escape_xml("a<b>&\"c\""), "a&lt;b&gt;&amp;&quot;c&quot;");
  EXPECT_EQ(number_text(-0.0), "0");
}

TEST(Draw, EigenvectorsOfASymmetricMatrix) {
  std::mt19937 gen(3);
  std::normal_distribution<double> z;
  for (size_t n : {2u, 4u, 7u}) {
    std::vector<std::vector<double>> a(n, std::vector<double>(n));
    for (size_t i = 0; i < n; ++i)
      for (size_t j = 0; j <= i; ++j) a[i][j] = a[j][i] = z(gen);
    std::vector<double> values;
    std::vector<std::vector<double>> v;
    symmetric_eigen(a, &values, &v);
    for (size_t c = 0; c < n; ++c) {
      if (c > 0) {
        EXPECT_GE(values[c - 1], values[c]);
      }
      for (size_t r = 0; r < n; ++r) {
        double av = 0;
        for (size_t k = 0; k < n; ++k) av += a[r][k] * v[k][c];
        EXPECT_NEAR(av, values[c] * v[r][c], 1e-9);
      }
      for (size_t d = 0; d < n; ++d) {
        double dot = 0;
        for (size_t r = 0; r < n; ++r) dot += v[r][c] * v[r][d];
        EXPECT_NEAR(dot, c == d ? 1.0 : 0.0, 1e-9);
      }
    }
  }
  // Points along (1, 1, 0) with a little spread on z: the first axis is that line.
  std::vector<std::vector<double>> points;
  for (int i = -5; i <= 5; ++i) points.push_back({double(i), double(i), i % 2 == 0 ? 0.01 : -0.01});
  PrincipalAxes axes = principal_axes(points);
  EXPECT_NEAR(axes.axis1[0], std::sqrt(0.5), 1e-9);
  EXPECT_NEAR(axes.axis1[1], std::sqrt(0.5), 1e-9);
  EXPECT_NEAR(axes.variance1 + axes.variance2, axes.total_variance, 1e-9);
}

TEST(Draw, HeatMapKeepsTheMostProbableValuesInFileOrder) {
  DiscreteTable t;
  t.name = "colour";
  t.values = {"a", "b", "c", "d", "e"};
  t.prob = {{0.05, 0.5, 0.05, 0.1, 0.3}, {0.6, 0.1, 0.1, 0.1, 0.1}};
  int left_out = 0;
  HeatMap map = discrete_heat_map(t, 3, &left_out);
  EXPECT_EQ(left_out, 2);
  EXPECT_EQ(map.rows, (std::vector<std::string>{"a", "b", "e"}));
  EXPECT_EQ(map.value[2], (std::vector<double>{0.3, 0.1}));
  EXPECT_EQ(map.columns, (std::vector<std::string>{"0", "1"}));
  std::string svg = heat_map(map);
  EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
}

}  // namespace
}  // namespace veska
