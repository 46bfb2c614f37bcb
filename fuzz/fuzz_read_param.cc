// rumel's parameter-file reader under several option sets, with or without
// a names file fixing value lists.
//
// Input: one byte choosing the option set, one byte of flags (data_setup.h;
// the estimation is always skipped), then the parameter file; a names file
// may come first, ended by the line "%%PARAM".
#include <cstddef>
#include <cstdint>

#include "data/read_param.h"
#include "fuzz/model_file_target.h"

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
  return fuzz::run_model_file_input(data, size, "%%PARAM\n", *g_param, *g_names,
                                    [](Settings& s, AttrModel& model, const std::string& path) {
                                      s.files.param = path;
                                      StoredParams p = read_param(s, model);
                                      (void)p;
                                    });
}
