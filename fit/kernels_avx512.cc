// The shared kernels on AVX-512F, eight doubles per vector (no contraction into FMA).
#include "fit/kernel_bodies.h"

namespace veska {

const KernelTable kAvx512Kernels = make_kernel_table<8>("avx512");

}  // namespace veska
