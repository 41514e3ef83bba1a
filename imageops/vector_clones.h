#pragma once
// Pixel loops written once and compiled twice, for the baseline processor and
// for one with AVX2:
//
//     PELLORIN_VECTOR_KERNEL(MaskRow, (uint8_t* __restrict p, size_t n), (p, n)) {
//         for (size_t i = 0; i < n; ++i) ...
//     }
//
// defines MaskRow(p, n), which runs the AVX2 copy when imageops::HasAvx2()
// says so and the baseline copy otherwise. The question is asked at every
// call, so imageops::UseVectorKernels(false) sends these loops to their
// baseline copies just as it does the hand-written vector loops, and tests can
// run both copies on one machine. Use it inside an unnamed namespace; the
// kernel returns nothing.
//
// Floating-point operations are not fused in either copy (AVX2 alone does not
// enable FMA, and the ISO language mode does not contract), so both copies
// give the same results.

#include "imageops/cpu_features.h"

#if defined(__GNUC__) && defined(__x86_64__)

#define PELLORIN_VECTOR_KERNEL(name, params, args)                                                 \
    [[gnu::always_inline]] static inline void name##Body params;                                   \
    [[gnu::target("avx2"), gnu::noinline]] static void name##Avx2 params {                         \
        name##Body args;                                                                           \
    }                                                                                              \
    [[gnu::noinline]] static void name##Baseline params {                                          \
        name##Body args;                                                                           \
    }                                                                                              \
    void name params {                                                                             \
        if (imageops::HasAvx2())                                                                   \
            name##Avx2 args;                                                                       \
        else                                                                                       \
            name##Baseline args;                                                                   \
    }                                                                                              \
    [[gnu::always_inline]] static inline void name##Body params

#else

#define PELLORIN_VECTOR_KERNEL(name, params, args) void name params

#endif
