#include "fit/isa.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "common/misc.h"

namespace veska {

namespace {

const KernelTable& table_of(Isa isa) {
  switch (isa) {
    case Isa::avx512: return kAvx512Kernels;
    case Isa::avx2: return kAvx2Kernels;
    case Isa::sse2: break;
  }
  return kSse2Kernels;
}

Isa isa_from_environment() {
  const char* name = std::getenv("VESKA_ISA");
  if (name == nullptr || name[0] == '\0') return widest_isa();
  for (Isa isa : {Isa::sse2, Isa::avx2, Isa::avx512}) {
    if (std::strcmp(name, isa_name(isa)) != 0) continue;
    if (!isa_supported(isa)) die_stderr("VESKA_ISA=%s: this processor does not run %s\n", name, name);
    return isa;
  }
  die_stderr("VESKA_ISA=%s: unknown instruction set (sse2, avx2 or avx512)\n", name);
}

// Set by the first call (the environment) or by force_isa; kernels on
// several threads read it at once.
std::atomic<int> chosen{-1};

}  // namespace

const char* isa_name(Isa isa) {
  switch (isa) {
    case Isa::avx512: return "avx512";
    case Isa::avx2: return "avx2";
    case Isa::sse2: break;
  }
  return "sse2";
}

bool isa_supported(Isa isa) {
  switch (isa) {
    case Isa::avx512: return __builtin_cpu_supports("avx512f");
    case Isa::avx2: return __builtin_cpu_supports("avx2");
    case Isa::sse2: break;
  }
  return true;  // the x86-64 baseline
}

Isa widest_isa() {
  if (isa_supported(Isa::avx512)) return Isa::avx512;
  if (isa_supported(Isa::avx2)) return Isa::avx2;
  return Isa::sse2;
}

Isa active_isa() {
  int isa = chosen.load(std::memory_order_acquire);
  if (isa < 0) {
    int none = -1;
    const int found = static_cast<int>(isa_from_environment());
    isa = chosen.compare_exchange_strong(none, found) ? found : none;
  }
  return static_cast<Isa>(isa);
}

const KernelTable& active_kernels() { return table_of(active_isa()); }

void force_isa(Isa isa) {
  if (!isa_supported(isa)) die("Internal error: instruction set %s forced but not supported\n", isa_name(isa));
  chosen.store(static_cast<int>(isa), std::memory_order_release);
}

}  // namespace veska
