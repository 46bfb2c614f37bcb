#include "common/file_names.h"

#include <cstdio>

#include "common/misc.h"

namespace veska {

namespace {

bool can_open(const std::string& name) {
  FILE* f = fopen(name.c_str(), "rb");
  if (f == nullptr) return false;
  fclose(f);
  return true;
}

std::string with_format(const std::string& stem, const char* ending, Format format) {
  return stem + ending + "." + format_extension(format);
}

}  // namespace

const char* format_extension(Format format) { return format == Format::kTxt ? "txt" : "csv"; }

Format detect_input_format(const std::string& txt_name, const std::string& csv_name, Format given) {
  Format found = given;
  if (can_open(txt_name)) found = Format::kTxt;
  if (can_open(csv_name)) found = Format::kCsv;
  if (found == Format::kNotGiven) {
    die_stderr("Couldn't find the input file (neither %s nor %s)\n", txt_name.c_str(), csv_name.c_str());
  }
  return found;
}

void derive_file_names(Settings& s) {
  // Output names carry the suffix; the case file never does, so one case
  // file can feed several differently named runs.
  const std::string& bare = s.target;
  std::string stem = s.target;
  if (s.suffix_given) stem += "_" + s.suffix;

  bool vb = s.program == Program::kVb;
  bool read_hparam_only = vb && !s.run_estimation;
  bool read_param_only = !vb && !s.run_estimation;
  if (read_hparam_only) {
    s.input_format =
        detect_input_format(stem + "_hparam.txt", stem + "_hparam.csv", s.input_format);
  } else if (read_param_only) {
    s.input_format = detect_input_format(stem + "_param.txt", stem + "_param.csv", s.input_format);
  } else {
    s.input_format = detect_input_format(bare + "_freq.txt", bare + "_freq.csv", s.input_format);
  }
  if (s.output_format == Format::kNotGiven) s.output_format = s.input_format;

  Format in = s.input_format;
  Format out = s.output_format;
  FileNames& f = s.files;
  f.cases = with_format(bare, "_freq", in);
  f.param = with_format(stem, "_param", read_param_only ? in : out);
  // rumelvb writes the hyperparameters it estimates; rumel only ever reads them.
  f.hparam = with_format(stem, "_hparam", (vb && s.run_estimation) ? out : in);
  f.memp = with_format(stem, "_memp", out);
  f.log = with_format(stem, "_log", out);
  f.msg = stem + "_msg.txt";
  f.cluster = with_format(stem, "_cluster", out);
  f.rank = with_format(stem, "_rank", out);
  f.eval = with_format(stem, "_eval", out);
  f.predict = with_format(stem, "_predict", out);
  f.names = stem + "_name.txt";
}

}  // namespace veska
