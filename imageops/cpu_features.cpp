#include "imageops/cpu_features.h"

#include <atomic>

namespace imageops {
namespace {

std::atomic<bool> g_vectorKernels{true};

} // namespace

void UseVectorKernels(bool on) {
    g_vectorKernels.store(on, std::memory_order_relaxed);
}

bool VectorKernelsOn() {
    return g_vectorKernels.load(std::memory_order_relaxed);
}

} // namespace imageops
