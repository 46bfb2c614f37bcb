// Settings and attribute model of the data-reader targets, made the way
// rumelvb makes them: a command line through the option passes and
// validate_settings.
#pragma once

#include <cstdint>
#include <string>

#include "common/attributes.h"
#include "common/hash.h"
#include "common/init.h"
#include "common/options.h"
#include "common/settings.h"
#include "fuzz/fuzz_support.h"

namespace veska::fuzz {

// Option sets the readers are fuzzed under, as NUL-separated command words.
// Each names the roles a real run could give the columns.
inline const std::string& option_set(uint8_t selector) {
  using namespace std::string_literals;
  static const std::string kSets[] = {
      // discrete only
      "-x\0" "4\0" "-k\0" "2"s,
      // discrete with an ignored column and an answer class (cases merge)
      "-x\0" "5\0" "-k\0" "2\0" "-y\0" "3\0" "-E\0" "4"s,
      // discrete and two Gaussian blocks
      "-x\0" "6\0" "-k\0" "2\0" "-u\0" "1,2#4"s,
      // case ID, answer class, one block
      "-x\0" "5\0" "-k\0" "2\0" "-I\0" "0\0" "-E\0" "4\0" "-u\0" "2"s,
      // case ID and answer class, discrete only
      "-x\0" "4\0" "-k\0" "2\0" "-I\0" "0\0" "-E\0" "3"s,
      // the iris job: one block of four, the species as answer class
      "-x\0" "5\0" "-k\0" "2:5:1\0" "-u\0" "0-3\0" "-E\0" "4"s,
      // the breast-cancer sample: nine discrete, the answer class last
      "-x\0" "10\0" "-k\0" "2\0" "-E\0" "9"s,
      // one-dimensional blocks, an ignored column, discrete
      "-x\0" "5\0" "-k\0" "3\0" "-u\0" "0~1\0" "-y\0" "4"s,
  };
  return kSets[selector % (sizeof kSets / sizeof kSets[0])];
}

// Flag bits of the second header byte.
enum SetupFlags : uint8_t {
  kFlagTxt = 1,         // tab-separated input
  kFlagUncompress = 2,  // --uncompress
  kFlagOccOrder = 4,    // --occ-order
  kFlagRegularStat = 8, // --regular-stat
  kFlagReadHparam = 16, // -H: the estimation is skipped, value sets are closed
};

// Builds settings and model from option set `selector` and `flags`, with the
// string tables of a run created, as rumelvb does before reading its inputs.
// The option sets are valid, so this is never fatal.
inline void setup_run(uint8_t selector, uint8_t flags, Settings& s, AttrModel& model) {
  using namespace std::string_literals;
  std::string words = option_set(selector);
  if (flags & kFlagUncompress) words += "\0--uncompress"s;
  if (flags & kFlagOccOrder) words += "\0--occ-order"s;
  if (flags & kFlagRegularStat) words += "\0--regular-stat"s;
  if (flags & kFlagReadHparam) words += "\0-H"s;
  ArgList args("rumelvb", words);
  s = Settings::defaults(Program::kVb);
  s.seed = 1;
  s.target = "t";
  s.input_format = (flags & kFlagTxt) ? Format::kTxt : Format::kCsv;
  s.output_format = s.input_format;
  if (flags & kFlagReadHparam) s.run_estimation = false;
  option_passes_after_open(args.argc(), args.argv(), s);
  validate_settings(s, model);
  create_value_tables(model);
}

}  // namespace veska::fuzz
