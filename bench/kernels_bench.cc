// Timings of the shared kernels on each instruction set this processor runs
// (argument 0 SSE2, 1 AVX2, 2 AVX-512), on the hot shapes: 100,000 complete
// entries with one 4-D block and K = 5, and with 20 discrete attributes of 5
// values and K = 10; and the kernels' exponential and logarithm against
// std::exp and std::log. "per_item" is the time per case and class (per case,
// class and attribute for the discrete kernels; per value for exp and log).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "fit/isa.h"
#include "fit/kernels.h"

namespace veska {
namespace {

constexpr int kEntries = 100000;

// Complete entries: `n_discrete` attributes of `n_values` values, one block
// of dimension `dim` (0: none), every count 1.
struct BenchData {
  BenchData(int n_discrete, int n_values, int dim) {
    std::mt19937 gen(1);
    std::uniform_int_distribution<int> value(0, n_values - 1);
    std::normal_distribution<double> z(0.0, 1.0);
    views.n_entries = kEntries;
    views.n_discrete = n_discrete;
    views.n_groups = dim > 0 ? 1 : 0;
    for (int j = 0; j < n_discrete; ++j) views.cat_offset.push_back(j * n_values);
    views.cat_stride = n_discrete * n_values;
    for (int n = 0; n < kEntries; ++n) {
      for (int j = 0; j < n_discrete; ++j) views.entry_cells.push_back(j * n_values + value(gen));
    }
    views.entry_count.assign(kEntries, 1);
    reals.resize(static_cast<size_t>(kEntries) * dim);
    for (double& x : reals) x = z(gen);
    views.reals_base = reals.data();
    views.reals_stride = static_cast<size_t>(dim);
    if (dim > 0) {
      dims.push_back(dim);
      views.block_offset.push_back(0);
      views.block_missing_entries.emplace_back();
    }
  }
  EntryViews views;
  CaseTable cases;  // not read: every entry is complete
  std::vector<double> reals;
  std::vector<int> dims;
};

// Per class: ln pi, ln theta, and a block mean and precision (identity).
struct BenchModel {
  BenchModel(const BenchData& d, int K)
      : scratch(allocate_kernel_scratch(K, d.views.cat_stride, d.dims)),
        log_pi(K, -std::log(K)),
        log_theta(static_cast<size_t>(K) * d.views.cat_stride, -1.6) {
    const int dim = d.dims.empty() ? 0 : d.dims[0];
    mean.assign(static_cast<size_t>(K) * dim, 0.1);
    precision.assign(static_cast<size_t>(K) * dim * dim, 0.0);
    for (int k = 0; k < K; ++k) {
      for (int i = 0; i < dim; ++i) precision[(k * dim + i) * dim + i] = 1.0;
      if (dim == 0) continue;
      scratch.mean[k] = mean.data() + k * dim;
      scratch.precision[k] = precision.data() + k * dim * dim;
      scratch.log_const[k] = -1.0;
      scratch.scale[k] = 1.0;
    }
    model = LogJointModel{1.0, log_pi.data(), log_theta.data(), d.dims, {}};
  }
  KernelScratch scratch;
  std::vector<double> log_pi, log_theta, mean, precision;
  LogJointModel model;
};

// Forces the argument's instruction set; false (and the benchmark skipped)
// when this processor does not run it.
bool use_isa(benchmark::State& state) {
  const Isa isa = static_cast<Isa>(state.range(0));
  if (!isa_supported(isa)) {
    state.SkipWithError("instruction set not supported here");
    return false;
  }
  force_isa(isa);
  state.SetLabel(isa_name(isa));
  return true;
}

void per_item(benchmark::State& state, double items) {
  state.counters["per_item"] =
      benchmark::Counter(items, benchmark::Counter::kIsIterationInvariantRate |
                                    benchmark::Counter::kInvert);
}

// The log joint of K classes, class-major; `terms` per entry and class.
void time_log_joint(benchmark::State& state, const BenchData& d, int K, double terms) {
  BenchModel m(d, K);
  std::vector<double> out(static_cast<size_t>(K) * kEntries);
  for (auto _ : state) {
    complete_log_joint(d.views, m.model, ClassList::all(K), all_entries(d.views),
                       m.scratch, ClassEntryArray{out.data(), kEntries, 1});
    benchmark::DoNotOptimize(out.data());
  }
  per_item(state, terms * K * kEntries);
}

void BM_LogJointContinuous(benchmark::State& state) {
  if (use_isa(state)) time_log_joint(state, BenchData(0, 0, 4), 5, 1.0);
}
BENCHMARK(BM_LogJointContinuous)->DenseRange(0, 2);

void BM_LogJointDiscrete(benchmark::State& state) {
  if (use_isa(state)) time_log_joint(state, BenchData(20, 5, 0), 10, 20.0);
}
BENCHMARK(BM_LogJointDiscrete)->DenseRange(0, 2);

void BM_ClassCountsDiscrete(benchmark::State& state) {
  if (!use_isa(state)) return;
  const int K = 10;
  const BenchData d(20, 5, 0);
  BenchModel m(d, K);
  const std::vector<double> resp(static_cast<size_t>(K) * kEntries, 0.1);
  std::vector<double> n_k(K), n_cat(static_cast<size_t>(K) * d.views.cat_stride);
  for (auto _ : state) {
    class_counts(d.views, ConstClassEntryArray{resp.data(), kEntries, 1}, ClassList::all(K),
                 all_entries(d.views), m.scratch, n_k.data(), n_cat.data());
    benchmark::DoNotOptimize(n_cat.data());
  }
  per_item(state, 20.0 * K * kEntries);
}
BENCHMARK(BM_ClassCountsDiscrete)->DenseRange(0, 2);

void BM_BlockMoments(benchmark::State& state) {
  if (!use_isa(state)) return;
  const int K = 5, dim = 4;
  const BenchData d(0, 0, dim);
  BenchModel m(d, K);
  const std::vector<double> resp(static_cast<size_t>(K) * kEntries, 0.2);
  std::vector<double> s1(static_cast<size_t>(K) * dim), s2(static_cast<size_t>(K) * dim * dim);
  for (int k = 0; k < K; ++k) {
    m.scratch.s1[k] = s1.data() + k * dim;
    m.scratch.s2[k] = s2.data() + k * dim * dim;
  }
  for (auto _ : state) {
    observed_block_moments(d.views, ConstClassEntryArray{resp.data(), kEntries, 1},
                           ClassList::all(K), 0, dim, nullptr, all_entries(d.views), m.scratch,
                           MissingBlockMoments{});
    benchmark::DoNotOptimize(s2.data());
  }
  per_item(state, 1.0 * K * kEntries);
}
BENCHMARK(BM_BlockMoments)->DenseRange(0, 2);

// rumelvb's layout and rules, K = 5.
struct LogWeights {
  static constexpr int K = 5;
  LogWeights() : w(static_cast<size_t>(K) * kEntries), z(kEntries), r(w.size()) {
    std::mt19937 gen(2);
    std::uniform_real_distribution<double> u(-40.0, 0.0);
    for (double& x : w) x = u(gen);
  }
  ConstClassEntryArray weights() const { return {w.data(), kEntries, 1}; }
  std::vector<double> w, z, r;
};

void BM_LogNormalisers(benchmark::State& state) {
  if (!use_isa(state)) return;
  LogWeights x;
  NormaliserRules rules;
  rules.negligible_before_top = -746.0;
  rules.negligible_after_top = -37.5;
  for (auto _ : state) {
    entry_normalisers(x.weights(), ClassList::all(x.K), nullptr, rules, {0, kEntries}, x.z.data());
    benchmark::DoNotOptimize(x.z.data());
  }
  per_item(state, 1.0 * x.K * kEntries);
}
BENCHMARK(BM_LogNormalisers)->DenseRange(0, 2);

void BM_Responsibilities(benchmark::State& state) {
  if (!use_isa(state)) return;
  LogWeights x;
  const ResponsibilityRules rules{true, 1e-30, -69.5, 0.0};
  for (auto _ : state) {
    class_responsibilities(x.weights(), ClassList::all(x.K), x.z.data(), rules, {0, kEntries},
                           ClassEntryArray{x.r.data(), kEntries, 1});
    benchmark::DoNotOptimize(x.r.data());
  }
  per_item(state, 1.0 * x.K * kEntries);
}
BENCHMARK(BM_Responsibilities)->DenseRange(0, 2);

// Both in one pass, as rumelvb takes them.
void BM_NormalisersWithResponsibilities(benchmark::State& state) {
  if (!use_isa(state)) return;
  LogWeights x;
  NormaliserRules rules;
  rules.negligible_before_top = -746.0;
  rules.negligible_after_top = -37.5;
  const ResponsibilityRules resp_rules{true, 1e-30, -69.5, 0.0};
  for (auto _ : state) {
    normalise_entries(x.weights(), ClassList::all(x.K), nullptr, rules, resp_rules, {0, kEntries},
                      x.z.data(), ClassEntryArray{x.r.data(), kEntries, 1});
    benchmark::DoNotOptimize(x.r.data());
  }
  per_item(state, 1.0 * x.K * kEntries);
}
BENCHMARK(BM_NormalisersWithResponsibilities)->DenseRange(0, 2);

std::vector<double> sweep(double lo, double hi) {
  std::vector<double> x(kEntries);
  for (int i = 0; i < kEntries; ++i) x[i] = lo + (hi - lo) * i / kEntries;
  return x;
}

// One function over 100,000 values of [lo, hi).
template <typename F>
void time_values(benchmark::State& state, double lo, double hi, F f) {
  const std::vector<double> x = sweep(lo, hi);
  std::vector<double> y(x.size());
  for (auto _ : state) {
    f(x, y);
    benchmark::DoNotOptimize(y.data());
  }
  per_item(state, kEntries);
}

using Values = std::vector<double>;

void BM_Exp(benchmark::State& state) {
  if (!use_isa(state)) return;
  time_values(state, -746.0, 0.0, [](const Values& x, Values& y) { exp_values(x.data(), y.data(), x.size()); });
}
BENCHMARK(BM_Exp)->DenseRange(0, 2);

void BM_StdExp(benchmark::State& state) {
  time_values(state, -746.0, 0.0, [](const Values& x, Values& y) {
    for (size_t i = 0; i < x.size(); ++i) y[i] = std::exp(x[i]);
  });
}
BENCHMARK(BM_StdExp);

void BM_Log(benchmark::State& state) {
  if (!use_isa(state)) return;
  time_values(state, 1.0, 50.0, [](const Values& x, Values& y) { log_values(x.data(), y.data(), x.size()); });
}
BENCHMARK(BM_Log)->DenseRange(0, 2);

void BM_StdLog(benchmark::State& state) {
  time_values(state, 1.0, 50.0, [](const Values& x, Values& y) {
    for (size_t i = 0; i < x.size(); ++i) y[i] = std::log(x[i]);
  });
}
BENCHMARK(BM_StdLog);

}  // namespace
}  // namespace veska
