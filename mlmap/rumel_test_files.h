// For rumel's end-to-end tests: running the program in a temporary
// directory and reading the data matrices of its output files by ID.
#pragma once

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace veska::testing {

inline RunResult rumel(const TempDir& dir, const std::vector<std::string>& args) {
  return run_program("rumel", args, dir.path());
}

// Body rows of each data matrix, split at commas, by ID.
using Sections = std::map<std::string, std::vector<std::vector<std::string>>>;

inline Sections read_sections(const std::string& path) {
  Sections out;
  std::string id;
  for (const std::string& line : lines_of(read_file(path))) {
    if (line.rfind("#### ID:", 0) == 0) {
      id = line.substr(8);
      out[id];
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream ss(line);
    for (std::string f; std::getline(ss, f, ',');) fields.push_back(f);
    out[id].push_back(fields);
  }
  return out;
}

inline double real_of(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

}  // namespace veska::testing
