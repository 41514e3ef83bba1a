#pragma once
// Which of the hand-vectorised pixel loops this processor can run. Each such
// loop has a portable twin giving identical results, and so has every loop
// compiled twice through PELLORIN_VECTOR_KERNEL (vector_clones.h), which asks
// HasAvx2() which copy to run. UseVectorKernels(false) therefore sends every
// vector path to its portable form; tests use it to check both forms on one
// machine.

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define PELLORIN_X86_KERNELS 1
#else
#define PELLORIN_X86_KERNELS 0
#endif

namespace imageops {

bool HasSsse3();
bool HasSse41();
bool HasAvx2();

// On by default; off makes the Has... functions above answer false.
void UseVectorKernels(bool on);

} // namespace imageops
