// rumelcut: lists, views or splits into files the data matrices of the
// sectioned files that the clustering programs write.
#include <cstdio>
#include <new>

#include "common/misc.h"
#include "cut/cut_options.h"
#include "cut/separator.h"

int main(int argc, char** argv) {
  try {
    veska::CutSettings settings;
    if (veska::parse_cut_options(argc, argv, &settings, stdout) == veska::CutParseResult::kRun) {
      veska::run_separator(&settings, stdout, stderr);
    }
    if (fflush(stdout) != 0 || ferror(stdout)) veska::die_stderr("Couldn't write (stdout)\n");
  } catch (const std::bad_alloc&) {
    veska::die_stderr("Couldn't allocate memory (rumelcut,%d)\n", __LINE__);
  }
  return 0;
}
