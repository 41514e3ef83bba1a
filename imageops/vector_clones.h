#pragma once
// Pixel loops marked with PELLORIN_VECTOR_CLONES are compiled twice, for the
// baseline processor and for one with AVX2, and the right copy is chosen when
// the program starts. Floating-point operations are not fused in either copy,
// so both give the same results.

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define PELLORIN_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define PELLORIN_VECTOR_CLONES
#endif
