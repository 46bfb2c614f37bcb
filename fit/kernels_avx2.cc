// The shared kernels on AVX2 (built with -mavx2 alone: no FMA), four doubles per vector.
#include "fit/kernel_bodies.h"

namespace veska {

const KernelTable kAvx2Kernels = make_kernel_table<4>("avx2");

}  // namespace veska
