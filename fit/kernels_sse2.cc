// The shared kernels on the x86-64 baseline (SSE2), two doubles per vector.
#include "fit/kernel_bodies.h"

namespace veska {

const KernelTable kSse2Kernels = make_kernel_table<2>("sse2");

}  // namespace veska
