// Highway compiles this file once per instruction set (foreach_target.h
// includes it again for each); the part under HWY_ONCE picks the copy to run.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "app/swap_red_blue.cpp"
#include <hwy/foreach_target.h> // before highway.h
#include <hwy/highway.h>

#include "app/swap_red_blue.h"

HWY_BEFORE_NAMESPACE();
namespace swap_red_blue {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void Swap(const uint8_t* HWY_RESTRICT src, uint8_t* HWY_RESTRICT dst, size_t pixels,
          size_t srcStep) {
    const hn::ScalableTag<uint8_t> d;
    const size_t n = hn::Lanes(d);
    size_t i = 0;
    // A whole vector of pixels at a time: the interleaved loads split the
    // channels into one vector each, the store puts them back crossed.
    if (srcStep == 3) {
        for (; i + n <= pixels; i += n) {
            hn::Vec<decltype(d)> b, g, r;
            hn::LoadInterleaved3(d, src + 3 * i, b, g, r);
            hn::StoreInterleaved3(r, g, b, d, dst + 3 * i);
        }
    } else {
        for (; i + n <= pixels; i += n) {
            hn::Vec<decltype(d)> b, g, r, a;
            hn::LoadInterleaved4(d, src + 4 * i, b, g, r, a);
            hn::StoreInterleaved3(r, g, b, d, dst + 3 * i);
        }
    }
    SwapRedBlueScalar(src + srcStep * i, dst + 3 * i, pixels - i, srcStep);
}

} // namespace HWY_NAMESPACE
} // namespace swap_red_blue
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace swap_red_blue {
HWY_EXPORT(Swap);
} // namespace swap_red_blue

void SwapRedBlueScalar(const uint8_t* src, uint8_t* dst, size_t pixels, size_t srcStep) {
    for (size_t i = 0; i < pixels; ++i) {
        dst[3 * i] = src[srcStep * i + 2];
        dst[3 * i + 1] = src[srcStep * i + 1];
        dst[3 * i + 2] = src[srcStep * i];
    }
}

void SwapRedBlue(const uint8_t* src, uint8_t* dst, size_t pixels, size_t srcStep) {
    HWY_DYNAMIC_DISPATCH(swap_red_blue::Swap)(src, dst, pixels, srcStep);
}

std::vector<int64_t> SwapRedBlueTargets() {
    return hwy::SupportedAndGeneratedTargets();
}

void PinSwapRedBlueTarget(int64_t target) {
    hwy::SetSupportedTargetsForTest(target);
}

#endif // HWY_ONCE
