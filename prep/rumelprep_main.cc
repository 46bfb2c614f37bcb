// rumelprep: turns a user's delimited table into the case file and the names
// file of the clustering programs and prints the command lines that fit it.
#include <cstdio>
#include <new>

#include "common/misc.h"
#include "prep/import.h"
#include "prep/prep_options.h"

int main(int argc, char** argv) {
  try {
    veska::PrepSettings settings;
    if (veska::parse_prep_options(argc, argv, &settings, stdout) == veska::PrepParseResult::kRun) {
      veska::run_import(settings, stdout);
    }
    if (fflush(stdout) != 0 || ferror(stdout)) veska::die_stderr("Couldn't write (stdout)\n");
  } catch (const std::bad_alloc&) {
    veska::die_stderr("Couldn't allocate memory (rumelprep,%d)\n", __LINE__);
  }
  return 0;
}
