#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "common/init.h"
#include "cut/line_reader.h"
#include "report/principal_axes.h"
#include "report/read_run.h"

namespace veska {

namespace {

std::string percent_label(const char* axis, double part, double total) {
  char text[64];
  snprintf(text, sizeof text, "%s (%.1f%% of variance)", axis, total > 0 ? 100.0 * part / total : 0.0);
  return text;
}

// The sampled rows of one block: whole points, cluster per point.
struct BlockSample {
  std::vector<size_t> positions;  // field index of each dimension
  std::vector<std::vector<double>> points;
  std::vector<int> cluster;
  long incomplete = 0;
};

// The block values of the sampled entries from the case file, for a run that
// hid them in its cluster file. With Gauss blocks every case line is one
// entry, in file order, so the t-th line is the t-th row; a file whose line
// count differs is not the run's, and no point is taken from it.
bool read_case_points(const std::string& path, const AttrLayout& layout, long entries,
                      const std::vector<long>& rows, const std::vector<int>& clusters,
                      std::vector<BlockSample>& samples) {
  // Only a plain file: the name comes from the log, and a device would never end.
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char delimiter = delimiter_for(path);
  std::vector<std::vector<std::vector<double>>> points(samples.size());
  std::vector<std::vector<int>> point_clusters(samples.size());
  std::vector<long> incomplete(samples.size(), 0);
  long line = 0;
  size_t next = 0;
  bool ok = true;
  {
    LineReader reader(f);
    std::vector<std::string> fields;
    while (ok && reader.next()) {
      std::string_view text = reader.line();
      if (!text.empty() && text[0] == '#') continue;
      long row = line++;
      if (next >= rows.size() || rows[next] != row) continue;
      // Blanks (and in csv also tabs) are no part of any field.
      fields.assign(1, "");
      for (char c : text) {
        if (c == '\n' || c == '\r') break;
        if (c == delimiter) fields.emplace_back();
        else if (c != ' ' && (delimiter == '\t' || c != '\t')) fields.back() += c;
      }
      for (size_t g = 0; g < samples.size() && ok; ++g) {
        std::vector<double> point;
        for (int j : layout.blocks[g]) {
          size_t pos = static_cast<size_t>(j);  // field j is attribute j
          if (pos >= fields.size()) {
            ok = false;
            break;
          }
          double x = 0.0;
          if (fields[pos] == "?" || fields[pos] == "NA") break;
          if (!try_parse_real(fields[pos].c_str(), &x)) {
            ok = false;
            break;
          }
          point.push_back(x);
        }
        if (point.size() == samples[g].positions.size()) {
          points[g].push_back(std::move(point));
          point_clusters[g].push_back(clusters[next]);
        } else {
          ++incomplete[g];
        }
      }
      ++next;
    }
  }
  fclose(f);
  if (!ok || line != entries) return false;
  for (size_t g = 0; g < samples.size(); ++g) {
    samples[g].points = std::move(points[g]);
    samples[g].cluster = std::move(point_clusters[g]);
    samples[g].incomplete = incomplete[g];
  }
  return true;
}

void finish_scatter(const GaussBlock* block, size_t g, BlockSample& sample, RunData* run, long rows,
                    long unreadable) {
  Scatter s;
  s.g = static_cast<int>(g);
  s.entries = rows;
  s.incomplete = sample.incomplete;
  s.unreadable = unreadable;
  s.cluster = sample.cluster;
  size_t D = sample.positions.size();
  auto name = [&](size_t d) {
    return block != nullptr ? block->names[d] : "X" + std::to_string(run->layout.blocks[g][d]);
  };
  if (D == 1) {
    s.x_label = name(0);
    s.y_label = "Cluster";
    for (size_t i = 0; i < sample.points.size(); ++i) {
      s.x.push_back(sample.points[i][0]);
      s.y.push_back(sample.cluster[i]);
    }
  } else if (D == 2 || sample.points.size() < 2) {
    s.x_label = name(0);
    s.y_label = D >= 2 ? name(1) : "";
    for (const auto& p : sample.points) {
      s.x.push_back(p[0]);
      s.y.push_back(D >= 2 ? p[1] : 0.0);
    }
  } else {
    PrincipalAxes axes = principal_axes(sample.points);
    s.projected = true;
    s.x_label = percent_label("First principal axis", axes.variance1, axes.total_variance);
    s.y_label = percent_label("Second principal axis", axes.variance2, axes.total_variance);
    for (const auto& p : sample.points) {
      double u = 0.0, v = 0.0;
      for (size_t d = 0; d < D; ++d) {
        u += (p[d] - axes.mean[d]) * axes.axis1[d];
        v += (p[d] - axes.mean[d]) * axes.axis2[d];
      }
      s.x.push_back(u);
      s.y.push_back(v);
    }
  }
  run->scatters.push_back(std::move(s));
}

}  // namespace

void read_cluster_sample(const std::string& path, const std::string& case_file, long max_points,
                         RunData* run) {
  const AttrLayout& layout = run->layout;
  if (layout.blocks.empty()) return;
  SectionScanner scanner(path);
  while (scanner.next_matrix() && scanner.id() != "CLUSTER-CASE-BY-CASE") {
  }
  if (scanner.id() != "CLUSTER-CASE-BY-CASE") scanner.fail("no data matrix CLUSTER-CASE-BY-CASE");

  long n = 0;
  for (long size : run->cluster_sizes) n += size;
  long M = std::max(1L, max_points);
  std::vector<int> shown = layout.shown();
  size_t answer = layout.answer_attr >= 0 ? 1 : 0;
  size_t with_values = 3 + answer + shown.size(), without_values = 3 + answer;
  std::vector<BlockSample> samples(layout.blocks.size());
  for (size_t g = 0; g < layout.blocks.size(); ++g) {
    for (int j : layout.blocks[g]) {
      size_t pos = static_cast<size_t>(std::find(shown.begin(), shown.end(), j) - shown.begin());
      samples[g].positions.push_back(2 + answer + pos);
    }
  }

  // Row i is drawn when it is the t-th of floor(t * n / M), t = 0 .. M-1:
  // evenly spread over the file and the same every time.
  long rows = 0, unreadable = 0, t = 0;
  bool hidden = false;
  long long next = 0;
  std::vector<long> hidden_rows;  // sampled rows whose values are in the case file
  std::vector<int> hidden_clusters;
  std::vector<std::string_view> fields;
  int K = static_cast<int>(run->cluster_sizes.size());
  while (scanner.next_row(&fields)) {
    long row = rows++;
    if (fields.size() < without_values) scanner.fail("too few fields in CLUSTER-CASE-BY-CASE");
    if (row != next) continue;
    ++t;
    next = n <= M ? row + 1 : static_cast<long long>(t) * n / M;
    int k = 0;
    if (!try_parse_int(std::string(fields[1 + answer]).c_str(), &k) || k < 0 || k >= K) {
      scanner.fail("bad cluster index in CLUSTER-CASE-BY-CASE");
    }
    if (fields.size() == without_values) {
      hidden = true;
      hidden_rows.push_back(row);
      hidden_clusters.push_back(k);
      continue;
    }
    if (fields.size() != with_values) {
      ++unreadable;
      continue;
    }
    for (BlockSample& sample : samples) {
      std::vector<double> point;
      for (size_t pos : sample.positions) {
        double x = 0.0;
        if (fields[pos] == "?") break;
        if (!try_parse_real(std::string(fields[pos]).c_str(), &x)) {
          scanner.fail("not a number in CLUSTER-CASE-BY-CASE -- " + std::string(fields[pos]));
        }
        point.push_back(x);
      }
      if (point.size() != sample.positions.size()) {
        ++sample.incomplete;
        continue;
      }
      sample.points.push_back(std::move(point));
      sample.cluster.push_back(k);
    }
  }
  if (rows != n) scanner.fail("CLUSTER-CASE-BY-CASE has " + std::to_string(rows) + " rows, the cluster sizes add up to " + std::to_string(n));
  // The file goes on with the same cases by cluster; a file that stops here
  // was cut short.
  if (scanner.id() != "CLUSTER-CASE-BY-CASE" || !scanner.next_matrix() || scanner.id() != "CLUSTER-CASE-BY-CLUSTER") {
    scanner.fail("no data matrix CLUSTER-CASE-BY-CLUSTER after CLUSTER-CASE-BY-CASE (cut short?)");
  }
  run->values_hidden = hidden;
  if (hidden && (hidden_rows.size() != static_cast<size_t>(t) ||
                 !read_case_points(case_file, layout, rows, hidden_rows, hidden_clusters, samples))) {
    return;  // nothing to draw
  }
  run->values_from_case_file = hidden;
  for (size_t g = 0; g < samples.size(); ++g) {
    const GaussBlock* block = g < run->blocks.size() ? &run->blocks[g] : nullptr;
    finish_scatter(block, g, samples[g], run, rows, unreadable);
  }
}

}  // namespace veska
