// For the end-to-end tests of --threads: a program run on fresh copies of
// its input files at several thread counts, and everything it wrote.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

// The thread counts every such test compares with one thread.
inline const std::vector<int> kOtherThreadCounts = {2, 3, 7};

}  // namespace veska::testing
