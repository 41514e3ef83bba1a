#pragma once
// Which of the hand-vectorised pixel loops this processor can run. Each such
// loop has a portable twin giving identical results; tests switch the vector
// forms off to check the twins on the same machine.

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
