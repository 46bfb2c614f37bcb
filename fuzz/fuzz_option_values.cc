// Every option value handler on its own, then the validation of what they
// set.
//
// Input: one byte for --n-attr (1 to 64), one byte of roles (bit 0: --id 0,
// bit 1: --eval last, bit 2: rumel), then NUL-separated items, each a byte
// choosing the handler followed by the value text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/attributes.h"
#include "common/init.h"
#include "common/settings.h"
#include "fuzz/fuzz_support.h"

using namespace veska;

namespace {

void apply(Settings& s, uint8_t handler, const char* value) {
  switch (handler % 17) {
    case 0: set_n_class(s, value); break;
    case 1: add_ignored(s, value); break;
    case 2: add_gauss(s, value); break;
    case 3: set_smooth_c(s, value); break;
    case 4: set_smooth_a(s, value); break;
    case 5: set_smooth_var(s, value); break;
    case 6: set_tau(s, value); break;
    case 7: set_rank(s, value); break;
    case 8: set_itemp(s, value); break;
    case 9: set_extreme(s, value); break;
    case 10: set_score(s, value); break;
    case 11: set_init_c(s, value); break;
    case 12: set_init_a(s, value); break;
    case 13: s.alpha = parse_real(value); break;
    case 14: s.seed = parse_uint(value); break;
    case 15: s.max_iter = parse_int(value); break;
    case 16: set_autoclass(s); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_quiet_fatal();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  int n_attr = 1 + data[0] % 64;
  uint8_t roles = data[1];
  std::string_view items(reinterpret_cast<const char*>(data) + 2, size - 2);
  fuzz::run_guarded([&] {
    Settings s = Settings::defaults((roles & 4) ? Program::kMlMap : Program::kVb);
    s.n_attr = n_attr;
    s.n_class = 2;
    s.input_format = s.output_format = Format::kCsv;
    if (roles & 1) {
      s.id_given = true;
      s.id_attr = 0;
    }
    if (roles & 2) {
      s.eval_given = true;
      s.eval_attr = n_attr - 1;
    }
    size_t start = 0;
    while (start < items.size()) {
      size_t end = items.find('\0', start);
      if (end == std::string_view::npos) end = items.size();
      if (end > start) {
        std::string value(items.substr(start + 1, end - start - 1));
        apply(s, static_cast<uint8_t>(items[start]), value.c_str());
      }
      start = end + 1;
    }
    AttrModel model;
    validate_settings(s, model);
    create_value_tables(model);
    int k = s.k_range_given ? s.k_min : s.n_class;
    resolve_auto_smoothing(s, model, k);
  });
  return 0;
}
