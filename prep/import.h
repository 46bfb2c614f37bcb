// From a user's table to the case file and the names file of the clustering
// programs: roles from the options, types inferred from the values, unsafe
// texts turned into tokens, and the command lines that fit the result.
#pragma once

#include <string>
#include <string_view>

#include "prep/prep_options.h"

namespace veska {

// What an import produces; nothing is written until the whole table has
// been read and checked.
struct ImportResult {
  std::string cases;   // bytes of <target>_freq.csv
  std::string names;   // bytes of <target>_name.txt
  std::string report;  // columns, tokens applied, command lines: for the user
  std::string rumelvb_command;  // the rumelvb line of the report
};

// Imports the bytes of settings.table. A malformed table or a column
// reference that fits no column ends the process: a message naming the
// table, the line and the column, status 1.
ImportResult import_table(const PrepSettings& settings, std::string_view bytes);

// Reads settings.table, imports it and writes the two files; the report goes
// to `out`.
void run_import(const PrepSettings& settings, FILE* out);

}  // namespace veska
