// rumelprep's importer: record reading, delimiter detection, type
// inference, roles, tokens and the files' text, all in memory.
//
// Input: one byte of flags (bit 0: no header row; bits 1-2: delimiter
// detected, comma, tab or semicolon; bit 3: class column 0; bit 4: ID
// column 1; bit 5: column 2 ignored; bit 6: column 0 nominal), then the
// table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "prep/import.h"

using namespace veska;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_quiet_fatal();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  PrepSettings s;
  s.table = "t.csv";
  s.target = "t";
  s.header = (flags & 1) == 0;
  s.delimiter = "\0,\t;"[(flags >> 1) & 3];
  if (flags & 8) s.class_given = true, s.class_column = "0";
  if (flags & 16) s.id_given = true, s.id_column = "1";
  if (flags & 32) s.ignored.push_back("2");
  if (flags & 64) s.nominal.push_back("0");
  std::string_view table(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzz::run_guarded([&] {
    ImportResult r = import_table(s, table);
    // Every case line is within what the case reader takes.
    size_t start = 0;
    for (size_t end; (end = r.cases.find("\r\n", start)) != std::string::npos; start = end + 2) {
      if (end - start > 131071) abort();
    }
  });
  return 0;
}
