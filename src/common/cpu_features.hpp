// Instruction sets the running CPU offers, probed once. Kernels compiled for
// wider SIMD (function target attributes) run only when these say so; the
// module itself needs nothing beyond baseline x86-64.
#pragma once

namespace nimbic {

bool cpu_has_avx2();

// Cores this process may run on.
unsigned available_cores();

}  // namespace nimbic
