// Timings of the density kernel: Gaussian log densities by dimension, the
// symmetric positive-definite inverse by size, and the special functions.
// The "system_allocs" counter is what the store took from the system during
// the timed loop (zero once the shapes are warm).
#include <benchmark/benchmark.h>

#include <random>

#include "common/gauss.h"
#include "common/matrix.h"
#include "common/matrix_store.h"
#include "common/gamma_functions.h"

namespace veska {
namespace {

// B B' + n I for a random B.
Matrix* random_spd(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Matrix* a = new_matrix(n, n);
  std::vector<double> b(n * n);
  for (double& e : b) e = u(rng);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      double s = i == j ? n : 0.0;
      for (int k = 0; k < n; ++k) s += b[i * n + k] * b[j * n + k];
      (*a)[i][j] = s;
    }
  }
  return a;
}

Vector* random_vector(int n, std::mt19937& rng) {
  std::normal_distribution<double> g;
  Vector* v = new_vector(n);
  for (int i = 0; i < n; ++i) v->data[i] = g(rng);
  return v;
}

void report_allocations(benchmark::State& state, int64_t before) {
  state.counters["system_allocs"] =
      static_cast<double>(store_stats().system_allocations - before);
}

void BM_lgauss(benchmark::State& state) {
  int d = static_cast<int>(state.range(0));
  std::mt19937 rng(1);
  Matrix* cov = random_spd(d, rng);
  Vector* x = random_vector(d, rng);
  Vector* mu = random_vector(d, rng);
  benchmark::DoNotOptimize(lgauss(x, mu, cov));  // warm the store
  int64_t before = store_stats().system_allocations;
  for (auto _ : state) benchmark::DoNotOptimize(lgauss(x, mu, cov));
  report_allocations(state, before);
  free_matrix(cov);
  free_vector(x);
  free_vector(mu);
}
BENCHMARK(BM_lgauss)->Arg(1)->Arg(2)->Arg(4)->Arg(8);

// The engines' usual form: precision and determinant computed once per update.
void BM_lgauss_with_precision(benchmark::State& state) {
  int d = static_cast<int>(state.range(0));
  std::mt19937 rng(1);
  Matrix* cov = random_spd(d, rng);
  Matrix* prec = new_matrix(d, d);
  double det = inverse_spd(prec, cov).det;
  Vector* x = random_vector(d, rng);
  Vector* mu = random_vector(d, rng);
  benchmark::DoNotOptimize(lgauss(x, mu, cov, prec, det));
  int64_t before = store_stats().system_allocations;
  for (auto _ : state) benchmark::DoNotOptimize(lgauss(x, mu, cov, prec, det));
  report_allocations(state, before);
  free_matrix(cov);
  free_matrix(prec);
  free_vector(x);
  free_vector(mu);
}
BENCHMARK(BM_lgauss_with_precision)->Arg(4)->Arg(8);

void BM_inverse_spd(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  std::mt19937 rng(2);
  Matrix* a = random_spd(n, rng);
  Matrix* inv = new_matrix(n, n);
  benchmark::DoNotOptimize(inverse_spd(inv, a));
  int64_t before = store_stats().system_allocations;
  for (auto _ : state) {
    benchmark::DoNotOptimize(inverse_spd(inv, a));
    benchmark::ClobberMemory();
  }
  report_allocations(state, before);
  free_matrix(a);
  free_matrix(inv);
}
BENCHMARK(BM_inverse_spd)->Arg(2)->Arg(4)->Arg(8)->Arg(16);

void BM_log_gamma(benchmark::State& state) {
  double x = 0.3;
  for (auto _ : state) {
    benchmark::DoNotOptimize(log_gamma(x));
    x = x < 40.0 ? x * 1.37 : 0.3;  // walk through the branches
  }
}
BENCHMARK(BM_log_gamma);

void BM_digamma(benchmark::State& state) {
  double x = 0.3;
  for (auto _ : state) {
    benchmark::DoNotOptimize(digamma(x));
    x = x < 40.0 ? x * 1.37 : 0.3;
  }
}
BENCHMARK(BM_digamma);

}  // namespace
}  // namespace veska
