#include "cut/output_name.h"

#include "common/misc.h"

namespace veska {

namespace {

std::string extension_of(const std::string& name) {
  // Only the file's own name counts: a dot in a directory name ("./x",
  // "run.1/log") is no extension.
  size_t slash = name.rfind('/');
  size_t base = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot < base) return "out";
  return name.substr(dot + 1);
}

}  // namespace

std::string common_extension(const std::vector<std::string>& inputs) {
  bool first = true;
  std::string ext = "out";
  for (const std::string& name : inputs) {
    if (name == "-") continue;
    std::string this_ext = extension_of(name);
    if (first) {
      ext = this_ext;
      first = false;
    } else if (this_ext != ext) {
      return "out";
    }
  }
  if (ext.size() > kMaxInputExtension) {
    die_stderr("Too long extension of the input files: %s (Use -e to give one)\n", ext.c_str());
  }
  return ext;
}

std::string output_path(const CutSettings& settings, std::string_view matrix_id) {
  std::string path = settings.prefix;
  if (settings.suffix_given) path += "_" + settings.suffix;
  path += "_";
  path += matrix_id;
  path += ".";
  path += settings.ext;
  return path;
}

}  // namespace veska
