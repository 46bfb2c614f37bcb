// The case-file reader under several option sets, with or without a names
// file, followed by the statistics a fitting run computes from the table.
//
// Input: one byte choosing the option set, one byte of flags (data_setup.h),
// then the case file; a names file may come first, ended by the line
// "%%CASES".
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/name.h"
#include "data/read_freq.h"
#include "data/stat.h"
#include "fuzz/data_setup.h"
#include "fuzz/fuzz_support.h"

using namespace veska;

namespace {
fuzz::MemFile* g_cases;
fuzz::MemFile* g_names;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_quiet_fatal();
  g_cases = new fuzz::MemFile("cases");
  g_names = new fuzz::MemFile("names");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint8_t selector = data[0];
  uint8_t flags = data[1];
  std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  fuzz::SplitInput parts = fuzz::split_at_marker(rest, "%%CASES\n");
  g_cases->write(parts.after);
  if (parts.has_before) g_names->write(parts.before);

  fuzz::run_guarded([&] {
    Settings s;
    AttrModel model;
    fuzz::setup_run(selector, flags, s, model);
    s.files.cases = g_cases->path();
    s.files.names = parts.has_before ? g_names->path() : "/nonexistent/t_name.txt";
    read_names(s, model);
    CaseTable cases = read_cases(s, model);
    if (s.run_estimation) {
      SampleStats stats = compute_statistics(s, model, cases);
      free_statistics(stats);
    }
  });
  return 0;
}
