// Timing driver for bench/read_cases.sh; disabled in ordinary test runs.
// Reads the case file named by VESKA_BENCH_CASES with VESKA_BENCH_ATTRS
// attributes, all discrete, or all in one Gaussian block when
// VESKA_BENCH_GAUSS is 1.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "data/read_freq.h"
#include "data/test_model.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

TEST(ReadTiming, DISABLED_ReadCasesFromEnvironment) {
  const char* path = getenv("VESKA_BENCH_CASES");
  const char* attrs = getenv("VESKA_BENCH_ATTRS");
  const char* gauss = getenv("VESKA_BENCH_GAUSS");
  ASSERT_NE(path, nullptr);
  ASSERT_NE(attrs, nullptr);
  int n_attr = atoi(attrs);
  testing::Roles roles(n_attr);
  if (gauss != nullptr && std::string(gauss) == "1") {
    std::vector<int> all(static_cast<size_t>(n_attr));
    std::iota(all.begin(), all.end(), 0);
    roles.group(all);
  }
  Settings s = testing::make_settings(path);
  AttrModel model = testing::make_model(roles);
  CaseTable table;
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpu_start = std::clock();
  auto res = testing::run_capturing([&] { table = read_cases(s, model); });
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double cpu_seconds = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  ASSERT_FALSE(res.exited) << res.log;
  printf("read_cases: %d cases, %d entries, %.3f s (%.3f s of CPU)\n", table.n_cases,
         table.n_entries, seconds, cpu_seconds);
}

}  // namespace
}  // namespace veska
