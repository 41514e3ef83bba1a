#include "imageops/cpu_features.h"

#include <atomic>

namespace imageops {
namespace {

std::atomic<bool> g_vectorKernels{true};

#if PELLORIN_X86_KERNELS
bool Detected(int feature) {
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    static const bool sse41 = __builtin_cpu_supports("sse4.1");
    static const bool avx2 = __builtin_cpu_supports("avx2");
    const bool has = feature == 0 ? ssse3 : feature == 1 ? sse41 : avx2;
    return has && g_vectorKernels.load(std::memory_order_relaxed);
}
#else
bool Detected(int) {
    return false;
}
#endif

} // namespace

bool HasSsse3() {
    return Detected(0);
}
bool HasSse41() {
    return Detected(1);
}
bool HasAvx2() {
    return Detected(2);
}

void UseVectorKernels(bool on) {
    g_vectorKernels.store(on, std::memory_order_relaxed);
}

} // namespace imageops
