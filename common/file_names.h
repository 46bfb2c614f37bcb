// Every file name of a run, derived from the target prefix (and suffix), and
// the detection of the input format from the files that exist.
#pragma once

#include <string>

#include "common/settings.h"

namespace veska {

// Longest accepted --target and --suffix texts.
constexpr size_t kMaxTargetLength = 512;
constexpr size_t kMaxSuffixLength = 511;

// Probes txt_name, then csv_name, by opening them for reading: an existing
// file decides the format (csv wins when both exist), else `given` stays.
// Neither existing and nothing given: message on standard error, exit 1.
Format detect_input_format(const std::string& txt_name, const std::string& csv_name, Format given);

// Detects the input format, completes the output format and fills s.files.
void derive_file_names(Settings& s);

// "csv" or "txt".
const char* format_extension(Format format);

}  // namespace veska
