// rumel's parameter-file reader under several option sets, with or without
// a names file fixing value lists.
//
// Input: one byte choosing the option set, one byte of flags (data_setup.h;
// the estimation is always skipped), then the parameter file; a names file
// may come first, ended by the line "%%PARAM".
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/name.h"
#include "data/read_param.h"
#include "fuzz/data_setup.h"
#include "fuzz/fuzz_support.h"

using namespace veska;

namespace {
fuzz::MemFile* g_param;
fuzz::MemFile* g_names;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_quiet_fatal();
  g_param = new fuzz::MemFile("param");
  g_names = new fuzz::MemFile("names");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint8_t selector = data[0];
  uint8_t flags = data[1] | fuzz::kFlagReadHparam;
  std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  fuzz::SplitInput parts = fuzz::split_at_marker(rest, "%%PARAM\n");
  g_param->write(parts.after);
  if (parts.has_before) g_names->write(parts.before);

  fuzz::run_guarded([&] {
    Settings s;
    AttrModel model;
    fuzz::setup_run(selector, flags, s, model);
    s.files.param = g_param->path();
    s.files.names = parts.has_before ? g_names->path() : "/nonexistent/t_name.txt";
    read_names(s, model);
    StoredParams p = read_param(s, model);
    (void)p;
  });
  return 0;
}
