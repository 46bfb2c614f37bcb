// A whole command line of rumelvb or rumel through the option passes, the
// validation and the per-K resolution of the smoothing constants.
//
// Input: one byte whose low bit chooses the program (0 rumelvb, 1 rumel),
// then the command words separated by NUL bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/attributes.h"
#include "common/init.h"
#include "common/options.h"
#include "common/settings.h"
#include "fuzz/fuzz_support.h"

using namespace veska;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_quiet_fatal();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Program program = (data[0] & 1) ? Program::kMlMap : Program::kVb;
  fuzz::ArgList args(program == Program::kVb ? "rumelvb" : "rumel",
                     std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  fuzz::run_guarded([&] {
    Settings s = Settings::defaults(program);
    AttrModel model;
    option_pass_target(args.argc(), args.argv(), s);
    option_pass_files(args.argc(), args.argv(), s);
    // The file names and the input format are derived from the files that
    // exist; here the format is only completed.
    if (s.input_format == Format::kNotGiven) s.input_format = Format::kCsv;
    if (s.output_format == Format::kNotGiven) s.output_format = s.input_format;
    option_passes_after_open(args.argc(), args.argv(), s);
    validate_settings(s, model);
    create_value_tables(model);
    if (s.k_range_given) {
      // A few class counts of the range are enough.
      for (int k = s.k_min, n = 0; k <= s.k_max && n < 4; k += s.k_step, ++n) {
        resolve_auto_smoothing(s, model, k);
      }
    } else if (s.n_class > 0) {
      resolve_auto_smoothing(s, model, s.n_class);
    }
  });
  return 0;
}
