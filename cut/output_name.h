// Names of the files that output mode writes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cut/cut_options.h"

namespace veska {

// Longest extension taken from the input names.
constexpr size_t kMaxInputExtension = 10;

// The extension shared by the named inputs ("-" is skipped): the text after
// the last '.' of the file's own name, "out" for a name without one. "out"
// when the inputs disagree or none is named. An agreed extension longer than
// kMaxInputExtension ends the process with a message (--ext is the way out).
std::string common_extension(const std::vector<std::string>& inputs);

// prefix [+ "_" + suffix] + "_" + matrix ID + "." + extension
std::string output_path(const CutSettings& settings, std::string_view matrix_id);

}  // namespace veska
