// For the end-to-end tests of --threads: a program run on fresh copies of
// its input files at several thread counts, and everything it wrote.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/case_data.h"
#include "tests/support/test_support.h"

namespace veska::testing {

// The exit status, the message stream and every file a run left beside its
// inputs (name -> bytes).
struct RunOutputs {
  int status = -1;
  std::string err;
  std::map<std::string, std::string> files;
  bool operator==(const RunOutputs&) const = default;
};

inline RunOutputs run_with_threads(const std::string& program, std::vector<std::string> args,
                                   const std::map<std::string, std::string>& inputs,
                                   int threads) {
  TempDir dir;
  for (const auto& [name, bytes] : inputs) write_file(dir.file(name), bytes);
  args.push_back("--threads");
  args.push_back(std::to_string(threads));
  const RunResult r = run_program(program, args, dir.path());
  RunOutputs out{r.status, r.err, {}};
  for (const auto& f : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = f.path().filename().string();
    if (inputs.count(name) == 0) out.files[name] = read_file(f.path().string());
  }
  return out;
}

// 5,000 cases (three chunks of entries): discrete attributes 0-1, then the
// blocks, values missing with probability p_missing.
inline std::string chunked_cases(double p_missing, const std::vector<int>& blocks) {
  Shape shape{{3, 4}, blocks, 5000, p_missing, p_missing / 2};
  return random_cases(shape);
}

// The blocks 3 and 2 of chunked_cases(p, {3, 2}) as m_freq.csv.
inline const std::vector<std::string> kChunkedMixed = {"-f", "m", "-x", "7", "-u", "2-4#5-6",
                                                       "--seed", "3"};

inline std::vector<std::string> with(std::vector<std::string> a,
                                     const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The run of `program` on m_freq.csv = cases on one thread, then the same
// on 2, 3 and 7: every file and message the same bytes.
inline void expect_same_on_every_thread_count(const std::string& program,
                                              const std::vector<std::string>& args,
                                              const std::string& cases) {
  const std::map<std::string, std::string> inputs = {{"m_freq.csv", cases}};
  const RunOutputs one = run_with_threads(program, args, inputs, 1);
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_GE(one.files.size(), 3u);
  for (int threads : {2, 3, 7}) {
    EXPECT_TRUE(run_with_threads(program, args, inputs, threads) == one) << threads;
  }
}

}  // namespace veska::testing
