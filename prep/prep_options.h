// The command line of rumelprep: one table, the prefix of the files to
// write, and how to read the table and which columns play which role.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace veska {

struct PrepSettings {
  std::string table;   // the table to read
  std::string target;  // prefix of <target>_freq.csv and <target>_name.txt
  char delimiter = 0;  // ',', '\t' or ';'; 0: detected from the table
  bool header = true;  // the first record names the columns
  // Columns by header name or by index from 0.
  bool class_given = false, id_given = false;
  std::string class_column, id_column;
  std::vector<std::string> ignored, nominal;  // lists as given, comma-separated
};

enum class PrepParseResult { kRun, kDone };

// Reads argv into *settings. --help and --version print to `out` and return
// kDone; every fault ends the process with a message and status 1.
PrepParseResult parse_prep_options(int argc, char** argv, PrepSettings* settings, FILE* out);

const char* prep_version_line();

}  // namespace veska
