// The k-means start on 100,000 cases of a mixture of 15 classes with 30
// discrete attributes of 4 values and one 3-D Gaussian block: the whole
// partition (seeding and Lloyd iterations), for K = 15 and K = 5. The cases
// are written once to a temporary case file and read by the case reader,
// as a run would.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "common/init.h"
#include "common/random.h"
#include "data/kmeans_start.h"
#include "data/read_freq.h"
#include "data/stat.h"

namespace veska {
namespace {

constexpr int kCases = 100000;
constexpr int kClasses = 15;
constexpr int kDiscrete = 30;
constexpr int kDims = 3;

struct Data {
  Settings settings = Settings::defaults(Program::kVb);
  AttrModel model;
  CaseTable cases;
  SampleStats stats;
};

std::string write_cases() {
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  int favourite[kClasses][kDiscrete];
  double centre[kClasses][kDims];
  for (auto& row : favourite) for (int& v : row) v = static_cast<int>(gen() % 4);
  for (auto& row : centre) for (double& c : row) c = u(gen) * 20.0 - 10.0;
  char name[] = "/tmp/kmeans_bench_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::abort();
  const std::string base = name;
  FILE* f = fopen((base + "_freq.csv").c_str(), "wb");
  for (int i = 0; i < kCases; ++i) {
    const int k = static_cast<int>(gen() % kClasses);
    for (int j = 0; j < kDiscrete; ++j) {
      const int v = u(gen) < 0.6 ? favourite[k][j] : static_cast<int>(gen() % 4);
      fprintf(f, "v%d,", v);
    }
    for (int d = 0; d < kDims; ++d) fprintf(f, "%.6g%s", centre[k][d] + noise(gen), d + 1 < kDims ? "," : "\n");
  }
  fclose(f);
  remove(name);
  return base;
}

Data& data() {
  static std::unique_ptr<Data> d = [] {
    auto p = std::make_unique<Data>();
    Settings& s = p->settings;
    const std::string base = write_cases();
    s.n_attr = kDiscrete + kDims;
    add_gauss(s, "30,31,32");
    s.files.cases = base + "_freq.csv";
    s.input_format = Format::kCsv;
    resolve_attributes(s, p->model);
    create_value_tables(p->model);
    p->cases = read_cases(s, p->model);
    p->stats = compute_statistics(s, p->model, p->cases);
    remove(s.files.cases.c_str());
    return p;
  }();
  return *d;
}

void BM_kmeans_partition(benchmark::State& state) {
  const Data& d = data();
  const int K = static_cast<int>(state.range(0));
  rng_seed(1);
  for (auto _ : state) benchmark::DoNotOptimize(kmeans_partition(d.model, d.cases, d.stats, K));
  state.counters["cases"] = kCases;
}
BENCHMARK(BM_kmeans_partition)->Arg(15)->Arg(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace veska
