// The vector kernels are built for every instruction set and dispatched at
// run time: each target the processor runs must be in the build, and pinning
// one (as the fast-form tests do) must really send the kernels there.

#include "imageops/cpu_features.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

bool Has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

TEST(VectorTargets, EveryTargetOfTheProcessorIsBuiltAndTheBaselineComesLast) {
    std::vector<std::string> names;
    for (const int64_t t : imageops::VectorTargets())
        names.push_back(imageops::VectorTargetName(t));
    ASSERT_FALSE(names.empty());
    std::string all;
    for (const std::string& n : names) all += n + " ";
    SCOPED_TRACE("targets: " + all);
    std::printf("vector targets: %s\n", all.c_str());
    // The portable baseline runs everywhere, so every dispatch path is tested
    // on every machine.
    EXPECT_TRUE(names.back() == "EMU128" || names.back() == "SCALAR" || names.back() == "NEON")
        << names.back();
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (__builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("pclmul") &&
        __builtin_cpu_supports("aes")) {
        EXPECT_TRUE(Has(names, "SSE4"));
    }
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
        __builtin_cpu_supports("bmi2")) {
        EXPECT_TRUE(Has(names, "AVX2"));
    }
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl")) {
        EXPECT_TRUE(Has(names, "AVX3"));
    }
#endif
}

TEST(VectorTargets, PinningSendsTheKernelsToThatTarget) {
    const std::vector<int64_t> targets = imageops::VectorTargets();
    for (const int64_t t : targets) {
        imageops::PinVectorTarget(t);
        EXPECT_EQ(imageops::VectorTargetInUse(), t) << imageops::VectorTargetName(t);
    }
    imageops::PinVectorTarget(0);
    EXPECT_EQ(imageops::VectorTargetInUse(), targets.front());
}
