// For the engines' tests: small data sets written as case files and read
// by the case reader with their statistics, and random case files of a few
// shapes.
#pragma once

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/attributes.h"
#include "common/init.h"
#include "common/settings.h"
#include "data/read_freq.h"
#include "data/stat.h"
#include "tests/support/test_support.h"

namespace veska::testing {

// The cases of one csv text with their statistics; the Gaussian blocks are
// given as --gauss values ("2,3"). `tweak` changes settings before reading.
class CaseData {
 public:
  CaseData(const std::string& csv, int n_attr, const std::vector<std::string>& gauss,
           const std::function<void(Settings&)>& tweak = {}) {
    settings.n_attr = n_attr;
    settings.tau = 0.001;  // validation raises the default 0 to this
    for (const std::string& g : gauss) add_gauss(settings, g.c_str());
    if (tweak) tweak(settings);
    settings.files.cases = dir.file("data_freq.csv");
    settings.input_format = Format::kCsv;
    write_file(settings.files.cases, csv);
    StreamCapture quiet;  // "Reading cases from ..."
    resolve_attributes(settings, model);
    create_value_tables(model);
    if (settings.smooth_a.empty()) settings.smooth_a.assign(static_cast<size_t>(model.n_discrete), SmoothConst{});
    cases = read_cases(settings, model);
    stats = compute_statistics(settings, model, cases);
  }
  ~CaseData() { free_statistics(stats); }
  CaseData(const CaseData&) = delete;
  CaseData& operator=(const CaseData&) = delete;

  TempDir dir;
  Settings settings = Settings::defaults(Program::kVb);
  AttrModel model;
  CaseTable cases;
  SampleStats stats;
};

// Shape of a random data set: discrete attributes first (each with its
// number of values), then Gaussian blocks (each with its dimension).
struct Shape {
  std::vector<int> discrete;  // values per discrete attribute
  std::vector<int> blocks;    // dimension per block
  int lines = 120;
  double p_missing = 0.0;        // per value, discrete and continuous alike
  double p_block_missing = 0.0;  // per line and block: the whole block missing
  unsigned seed = 1;

  int n_attr() const {
    int n = static_cast<int>(discrete.size());
    for (int d : blocks) n += d;
    return n;
  }
  // --gauss values of the blocks.
  std::vector<std::string> gauss() const {
    std::vector<std::string> out;
    int j = static_cast<int>(discrete.size());
    for (int d : blocks) {
      std::string members;
      for (int i = 0; i < d; ++i) members += (i ? "," : "") + std::to_string(j++);
      out.push_back(members);
    }
    return out;
  }
};

// Lines drawn from a mixture of three groups, so that the classes have
// something to find; continuous values are correlated within a block.
inline std::string random_cases(const Shape& shape) {
  std::mt19937 gen(shape.seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::string text;
  for (int line = 0; line < shape.lines; ++line) {
    const int group = static_cast<int>(unit(gen) * 3);
    std::string row;
    auto add = [&row](const std::string& field) { row += (row.empty() ? "" : ",") + field; };
    for (size_t j = 0; j < shape.discrete.size(); ++j) {
      const int nv = shape.discrete[j];
      int v = unit(gen) < 0.6 ? (group + static_cast<int>(j)) % nv : static_cast<int>(unit(gen) * nv);
      if (unit(gen) < shape.p_missing) {
        add("?");
      } else {
        add(std::string(1, static_cast<char>('a' + v)));
      }
    }
    for (int d : shape.blocks) {
      const bool whole = unit(gen) < shape.p_block_missing;
      const double common = normal(gen);
      for (int i = 0; i < d; ++i) {
        const double x = 2.0 * group * (i % 2 ? -1 : 1) + 0.8 * common + 0.6 * normal(gen) + i;
        const bool missing = whole || unit(gen) < shape.p_missing;
        add(missing ? "?" : std::to_string(x));
      }
    }
    text += row + "\n";
  }
  return text;
}

}  // namespace veska::testing
