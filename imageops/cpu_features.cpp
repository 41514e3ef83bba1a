#include "imageops/cpu_features.h"

#include <atomic>

namespace imageops {
namespace {

std::atomic<bool> g_vectorKernels{true};

// Each answer is the processor's, unless the vector loops are switched off.
[[maybe_unused]] bool Usable(bool present) {
    return present && g_vectorKernels.load(std::memory_order_relaxed);
}

} // namespace

#if PELLORIN_X86_KERNELS
bool HasSsse3() {
    static const bool present = __builtin_cpu_supports("ssse3");
    return Usable(present);
}
bool HasSse41() {
    static const bool present = __builtin_cpu_supports("sse4.1");
    return Usable(present);
}
bool HasAvx2() {
    static const bool present = __builtin_cpu_supports("avx2");
    return Usable(present);
}
#else
bool HasSsse3() {
    return false;
}
bool HasSse41() {
    return false;
}
bool HasAvx2() {
    return false;
}
#endif

void UseVectorKernels(bool on) {
    g_vectorKernels.store(on, std::memory_order_relaxed);
}

} // namespace imageops
