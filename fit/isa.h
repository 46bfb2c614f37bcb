// The instruction set of the shared kernels, chosen once per process: the
// widest this processor runs, or the one the environment variable VESKA_ISA
// names ("sse2", "avx2" or "avx512"; tests and benchmarks compare the paths
// with it). Every path gives the same bits, so the choice changes only the
// speed.
#pragma once

#include "fit/kernel_table.h"

namespace veska {

enum class Isa { sse2, avx2, avx512 };

const char* isa_name(Isa isa);
bool isa_supported(Isa isa);
Isa widest_isa();

// The process's instruction set: on the first call, VESKA_ISA if set (an
// unknown or unsupported name ends the program with a message and status
// 1), else the widest.
Isa active_isa();
const KernelTable& active_kernels();

// Tests and benchmarks: the kernels of `isa` from now on (it must be one
// the processor runs).
void force_isa(Isa isa);

}  // namespace veska
