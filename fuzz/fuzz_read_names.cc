// The names-file reader under several option sets (the roles its types are
// checked against).
//
// Input: one byte choosing the option set, one byte of flags (data_setup.h),
// then the names file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/name.h"
#include "fuzz/data_setup.h"
#include "fuzz/fuzz_support.h"

using namespace veska;

namespace {
fuzz::MemFile* g_names;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_quiet_fatal();
  g_names = new fuzz::MemFile("names");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  g_names->write(std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2));
  fuzz::run_guarded([&] {
    Settings s;
    AttrModel model;
    fuzz::setup_run(data[0], data[1], s, model);
    s.files.names = g_names->path();
    read_names(s, model);
  });
  return 0;
}
