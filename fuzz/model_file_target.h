// The body both model-file targets share: one byte choosing the option set,
// one byte of flags (data_setup.h; the estimation is always skipped), then
// the model file; a names file may come first, ended by the marker line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/name.h"
#include "fuzz/data_setup.h"
#include "fuzz/fuzz_support.h"

namespace veska::fuzz {

// `read(settings, model, path)` points the settings at the model file and
// reads it.
template <typename Read>
int run_model_file_input(const uint8_t* data, size_t size, std::string_view marker,
                         MemFile& model_file, MemFile& names, Read read) {
  if (size < 2) return 0;
  uint8_t selector = data[0];
  uint8_t flags = data[1] | kFlagReadHparam;
  std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  SplitInput parts = split_at_marker(rest, marker);
  model_file.write(parts.after);
  if (parts.has_before) names.write(parts.before);

  run_guarded([&] {
    Settings s;
    AttrModel model;
    setup_run(selector, flags, s, model);
    s.files.names = parts.has_before ? names.path() : "/nonexistent/t_name.txt";
    read_names(s, model);
    read(s, model, model_file.path());
  });
  return 0;
}

}  // namespace veska::fuzz
