// The transform against direct DFTs, and the frequency-domain filters against a plain
// frame built on the direct DFT.
#include "reference.h"

#include "sarnel/fft.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using namespace sarnel_test;
using sarnel::cplx;
using sarnel::Plane;

namespace {

std::vector<cplx> randomSignal(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<cplx> x(n);
    for (auto& v : x) v = {d(rng), d(rng)};
    return x;
}

double maxError(const std::vector<cplx>& a, const std::vector<cplx>& b) {
    double e = 0;
    for (size_t i = 0; i < a.size(); ++i) e = std::max(e, std::abs(a[i] - b[i]));
    return e;
}

// The frequency-domain frame written plainly: centring, direct 2-D DFTs, the transfer
// value per coefficient, truncation, un-centring, clamping.
Plane referenceFrame(const Plane& p, int channel,
                     const std::function<cplx(int u, int v, cplx c)>& transfer,
                     std::vector<double>* rawOut = nullptr) {
    const int W = p.width, H = p.height;
    std::vector<cplx> data(p.samples.size());
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            data[size_t(y * W + x)] =
                (x + y) % 2 ? -p.samples[size_t(y * W + x)] : p.samples[size_t(y * W + x)];
    data = directDft2(data, W, H, +1);
    for (int l = 0; l < H; ++l)
        for (int k = 0; k < W; ++k)
            data[size_t(l * W + k)] = transfer(k - W / 2, l - H / 2, data[size_t(l * W + k)]);
    data = directDft2(data, W, H, -1);
    const auto range = sarnel::channelRange(channel);
    Plane out = p;
    if (rawOut) rawOut->resize(data.size());
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            double v = data[size_t(y * W + x)].real();
            if ((x + y) % 2) v = -v;
            if (rawOut) (*rawOut)[size_t(y * W + x)] = v;
            int s = std::isfinite(v) ? int(std::trunc(v)) : 0;
            out.samples[size_t(y * W + x)] = int16_t(std::clamp(s, range.lo, range.hi));
        }
    return out;
}

// Equal, except where the exact value is so close to an integer that rounding decides
// the truncation.
void expectFrameMatch(const Plane& expected, const std::vector<double>& raw, const Plane& actual,
                      const std::string& what) {
    int mismatches = 0;
    for (size_t i = 0; i < expected.samples.size(); ++i) {
        if (expected.samples[i] == actual.samples[i]) continue;
        const bool nearInteger = std::fabs(raw[i] - std::round(raw[i])) < 1e-7;
        if (nearInteger && std::abs(expected.samples[i] - actual.samples[i]) == 1) continue;
        if (++mismatches <= 3)
            ADD_FAILURE() << what << " at " << i << ": expected " << expected.samples[i] << ", got "
                          << actual.samples[i] << " (exact " << raw[i] << ")";
    }
    EXPECT_EQ(mismatches, 0) << what;
}

} // namespace

TEST(SarnelTransform, MatchesDirectDftOnEveryLengthKind) {
    // 1 and 2 trivial, 5 and 12 small radices, 97 a large prime (chirp-z), 1000 mixed
    // powers, 210 = 2 * 3 * 5 * 7 (a general odd radix), 2 * 37 a prime beside a 2.
    for (int n : {1, 2, 3, 5, 12, 97, 1000, 210, 74, 1009}) {
        const auto x = randomSignal(size_t(n), uint32_t(n));
        const auto expected = directDft(x, +1);
        sarnel::FftPlan plan(n);
        // Three interleaved copies, the layout the column pass uses.
        const int batch = 3;
        std::vector<cplx> data(size_t(n) * batch), work(plan.workSize(batch));
        for (int j = 0; j < n; ++j)
            for (int b = 0; b < batch; ++b)
                data[size_t(j * batch + b)] = x[size_t(j)] * double(b + 1);
        plan.transform(data.data(), batch, work.data());
        for (int b = 0; b < batch; ++b) {
            std::vector<cplx> got(static_cast<size_t>(n));
            for (int j = 0; j < n; ++j)
                got[size_t(j)] = data[size_t(j * batch + b)] / double(b + 1);
            EXPECT_LT(maxError(got, expected), 1e-9) << "n=" << n << " batch member " << b;
        }
    }
}

TEST(SarnelTransform, TwoDimensionalMatchesDirectDftBothWays) {
    for (auto [w, h] : {std::pair{12, 5}, std::pair{7, 1}, std::pair{1, 6}, std::pair{37, 4},
                        std::pair{10, 10}}) {
        const auto x = randomSignal(size_t(w * h), uint32_t(w * 100 + h));
        std::vector<double> re(x.size()), im(x.size());
        for (size_t i = 0; i < x.size(); ++i) re[i] = x[i].real(), im[i] = x[i].imag();
        ASSERT_EQ(sarnel::fftn(w, h, re.data(), im.data(), +1, sarnel::FftScaling::Sqrt), 0);
        std::vector<cplx> got(x.size());
        for (size_t i = 0; i < x.size(); ++i) got[i] = {re[i], im[i]};
        EXPECT_LT(maxError(got, directDft2(x, w, h, +1)), 1e-9) << w << "x" << h;
        // Inverse of the forward gives the input back.
        ASSERT_EQ(sarnel::fftn(w, h, re.data(), im.data(), -1, sarnel::FftScaling::Sqrt), 0);
        for (size_t i = 0; i < x.size(); ++i) got[i] = {re[i], im[i]};
        EXPECT_LT(maxError(got, x), 1e-12) << w << "x" << h;
    }
}

TEST(SarnelTransform, UnscaledInverseUsesNegativeSign) {
    const auto x = randomSignal(30, 8);
    std::vector<double> re(30), im(30);
    for (size_t i = 0; i < 30; ++i) re[i] = x[i].real(), im[i] = x[i].imag();
    ASSERT_EQ(sarnel::fftn(30, 1, re.data(), im.data(), -1, sarnel::FftScaling::None), 0);
    const auto expected = directDft(x, -1);
    std::vector<cplx> got(30);
    for (size_t i = 0; i < 30; ++i) got[i] = {re[i], im[i]};
    EXPECT_LT(maxError(got, expected), 1e-9);
}

TEST(SarnelTransform, ReportsDimensionErrorWithoutTouchingArrays) {
    double re[4] = {1, 2, 3, 4}, im[4] = {5, 6, 7, 8};
    for (auto [w, h] : {std::pair{0, 4}, std::pair{4, 0}, std::pair{-2, 2}}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(sarnel::fftn(w, h, re, im, 1, sarnel::FftScaling::Sqrt), -1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: fftn() - dimension error\n");
    }
    EXPECT_EQ(re[2], 3);
    EXPECT_EQ(im[3], 8);
}

TEST(SarnelTransform, LargeSizesStayAccurate) {
    // A 1009 x 1013 picture is the slow case of a plain mixed-radix transform; the
    // round trip shows the chirp-z path keeps full accuracy in both directions.
    const int w = 1009, h = 1013;
    std::vector<cplx> data = randomSignal(size_t(w) * h, 77);
    const std::vector<cplx> original = data;
    sarnel::fft2d(data.data(), w, h, +1, sarnel::FftScaling::Sqrt);
    // Coefficient (0, 0) is the sum over all samples, scaled.
    cplx sum = 0;
    for (const cplx& v : original) sum += v;
    EXPECT_LT(std::abs(data[0] - sum / std::sqrt(double(w) * h)), 1e-9);
    sarnel::fft2d(data.data(), w, h, -1, sarnel::FftScaling::Sqrt);
    EXPECT_LT(maxError(data, original), 1e-10);
}

// ---------------------------------------------------------------------------
// Filters

TEST(SarnelFrequency, FiltersMatchPlainFrame) {
    const double E = 2.71828183;
    struct Case {
        const char* name;
        std::function<void(Plane&, int)> run;
        std::function<cplx(int, int, cplx)> transfer;
    };
    const std::vector<Case> cases = {
        {"butterworth", [](Plane& p, int ch) { sarnel::butterworthBandReject(p, ch, 2.5, 1.5, 2); },
         [](int u, int v, cplx c) {
             const double d = std::hypot(u, v);
             return c / (1 + std::pow(d * 1.5 / (d * d - 6.25), 4));
         }},
        {"gauss", [](Plane& p, int ch) { sarnel::gaussBandReject(p, ch, 1.7, 2.0); },
         [E](int u, int v, cplx c) {
             const double d = std::hypot(u, v);
             const double q = (d * d - 1.7 * 1.7) / (d * 2.0);
             return c * (1 - std::pow(E, -0.5 * q * q));
         }},
        {"notch", [](Plane& p, int ch) { sarnel::butterworthNotchReject(p, ch, 1.5, 1, -1, 3); },
         [](int u, int v, cplx c) {
             const double d1 = std::hypot(u - 1, v + 1), d2 = std::hypot(u + 1, v - 1);
             return c / (1 + std::pow(2.25 / (d1 * d2), 3));
         }},
        {"notch negative order",
         [](Plane& p, int ch) { sarnel::butterworthNotchReject(p, ch, 1.5, 0.5, 0, -2); },
         [](int u, int v, cplx c) {
             const double d1 = std::hypot(u - 0.5, v), d2 = std::hypot(u + 0.5, v);
             return c / (1 + std::pow(2.25 / (d1 * d2), -2));
         }},
        {"turbulence", [](Plane& p, int ch) { sarnel::wienerTurbulence(p, ch, 0.05, 0.01); },
         [E](int u, int v, cplx c) {
             const double ht = std::pow(E, -0.05 * std::pow(double(u * u + v * v), 5.0 / 6));
             return c * (ht * ht / (ht * ht + 0.01) / ht);
         }},
        {"motion", [](Plane& p, int ch) { sarnel::wienerMotion(p, ch, 1.0, 0.1, 0.05, 0.01); },
         [](int u, int v, cplx c) {
             double m = 3.14159265 * (u * 0.1 + v * 0.05);
             if (m == 0) m = 1e-12;
             const cplx hm = (1.0 / m) * std::sin(m) * std::exp(cplx(0, -m));
             return c * std::conj(hm) / (std::norm(hm) + 0.01);
         }},
    };
    uint32_t seed = 1;
    for (const Case& c : cases)
        for (auto [w, h] : {std::pair{5, 4}, std::pair{4, 5}, std::pair{7, 3}, std::pair{8, 8}})
            for (int ch : {0, 7}) {
                const auto range = sarnel::channelRange(ch);
                const Plane src = randomPlane(w, h, range.lo, range.hi, seed++);
                std::vector<double> raw;
                const Plane expected = referenceFrame(src, ch, c.transfer, &raw);
                Plane p = src;
                c.run(p, ch);
                expectFrameMatch(expected, raw, p,
                                 std::string(c.name) + " " + std::to_string(w) + "x" +
                                     std::to_string(h));
            }
}

TEST(SarnelFrequency, BandRejectWithZeroWidth) {
    // W = 0: the transfer value is 1 away from the ring, so the plane comes back up to
    // the truncation of rounding errors.
    const Plane src = randomPlane(9, 7, 1, 255, 3);
    Plane p = src;
    sarnel::butterworthBandReject(p, 0, 2.5, 0.0, 4); // no frequency lies at D = 2.5
    for (size_t i = 0; i < src.samples.size(); ++i)
        EXPECT_LE(std::abs(p.samples[i] - src.samples[i]), 1);
    // D0 = 2 is met on the axes: 0/0 there, and the NaN reaches every sample.
    p = src;
    sarnel::butterworthBandReject(p, 0, 2.0, 0.0, 4);
    EXPECT_EQ(p.samples, constantPlane(9, 7, 0).samples);
}

TEST(SarnelFrequency, NotchAtCentreRemovesMean) {
    // a* plane whose mean ends in .5, so f - mean never sits on an integer.
    Plane src = randomPlane(8, 6, -40, 60, 9);
    int sum = 0;
    for (int16_t s : src.samples) sum += s;
    const int rest = ((sum % 48) + 48) % 48;
    src.samples[0] = int16_t(src.samples[0] + (24 - rest + 48) % 48);
    sum = 0;
    for (int16_t s : src.samples) sum += s;
    ASSERT_EQ(((sum % 48) + 48) % 48, 24);
    const double mean = sum / 48.0;
    Plane p = src;
    sarnel::butterworthNotchReject(p, 7, 0.5, 0, 0, 16);
    for (size_t i = 0; i < src.samples.size(); ++i) {
        const int expected = std::clamp(int(std::trunc(src.samples[i] - mean)), -128, 127);
        EXPECT_EQ(p.samples[i], expected) << i;
    }
}

TEST(SarnelFrequency, TurbulenceWithZeroConstantScales) {
    // k = 0: Ht = 1, every coefficient times 1 / (1 + K). Odd samples halve to x.5.
    Plane src = randomPlane(6, 5, 0, 127, 4);
    for (auto& s : src.samples) s = int16_t(2 * s + 1);
    Plane p = src;
    sarnel::wienerTurbulence(p, 0, 0.0, 1.0);
    for (size_t i = 0; i < src.samples.size(); ++i)
        EXPECT_EQ(p.samples[i], src.samples[i] / 2) << i;
    // A huge k makes Ht underflow to 0 away from the centre: 0 * infinity, NaN, 0.
    p = src;
    sarnel::wienerTurbulence(p, 0, 1e6, 0.01);
    EXPECT_EQ(p.samples, constantPlane(6, 5, 0).samples);
}

TEST(SarnelFrequency, MotionWithoutMovementScales) {
    // a = b = 0: m = 1e-12 everywhere, Hm = T, factor T / (T^2 + K) = 1/2 here.
    Plane src = randomPlane(5, 7, 0, 127, 5);
    for (auto& s : src.samples) s = int16_t(2 * s + 1);
    Plane p = src;
    sarnel::wienerMotion(p, 0, 1.0, 0.0, 0.0, 1.0);
    for (size_t i = 0; i < src.samples.size(); ++i)
        EXPECT_EQ(p.samples[i], src.samples[i] / 2) << i;
}

TEST(SarnelFrequency, SingleSamplePlanePassesThrough) {
    for (int value : {0, 17, 255}) {
        Plane p = constantPlane(1, 1, value);
        sarnel::butterworthBandReject(p, 0, 150, 50, 4);
        EXPECT_EQ(p.samples[0], value);
        sarnel::gaussBandReject(p, 0, 150, 50);
        EXPECT_EQ(p.samples[0], value);
        sarnel::wienerMotion(p, 0, 1.0, 0.1, 0.1, 0.0);
        EXPECT_EQ(p.samples[0], value);
    }
}

TEST(SarnelFrequency, ClampsToChannelRange) {
    // Turbulence with K = -0.5 doubles every coefficient: the plane doubles, then clamps.
    Plane p = randomPlane(6, 6, 0, 100, 6);
    const Plane src = p;
    sarnel::wienerTurbulence(p, 5, 0.0, -0.5);
    for (size_t i = 0; i < p.samples.size(); ++i) {
        EXPECT_GE(p.samples[i], std::min(100, 2 * src.samples[i] - 1)) << i;
        EXPECT_LE(p.samples[i], 100) << i;
    }
}

TEST(SarnelFrequency, TwoHandlesOneAfterTheOther) {
    // Work storage is per call: two pictures of different sizes filtered in turn give
    // the same results as each filtered alone.
    const Plane a = randomPlane(30, 20, 0, 255, 10), b = randomPlane(17, 45, 0, 255, 11);
    Plane a1 = a, b1 = b, a2 = a;
    sarnel::gaussBandReject(a1, 0, 5, 3);
    sarnel::gaussBandReject(b1, 0, 5, 3);
    sarnel::gaussBandReject(a2, 0, 5, 3);
    EXPECT_EQ(a1.samples, a2.samples);
    Plane b2 = b;
    sarnel::gaussBandReject(b2, 0, 5, 3);
    EXPECT_EQ(b1.samples, b2.samples);
}

// Work storage that cannot be had: the filter reports it on standard error, as the
// transform does, and leaves the plane as it was. The address space of a child
// process is capped a few megabytes above what it holds once the picture is loaded:
// a 65537 x 1 plane (65537 is prime) needs about 1 MB for its coefficients but about
// 13 MB for the 262144-point chirp-z transform behind its rows.
TEST(SarnelFrequencyDeathTest, ReportsWorkStorageThatCannotBeHad) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit does not combine with the sanitiser's shadow memory";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto filterUnderLimit = [] {
        constexpr int kWidth = 65537;
        SR_Bitmap* bm = SR_CreateBitmap(kWidth, 1);
        if (bm == nullptr) std::_Exit(10);
        for (int x = 0; x < kWidth; ++x) bm->pixels[4 * x + 2] = uint8_t(x * 7);
        SR_Image* image = SR_LoadBitmap(bm);
        if (image == nullptr) std::_Exit(11);
        const std::vector<int16_t> before = image->planes[SR_CHANNEL_RED].samples;
        testing::internal::CaptureStderr();
        long pages = 0;
        if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
            std::fclose(f);
        }
        if (pages <= 0) std::_Exit(12);
        const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (6u << 20);
        const rlimit cap{limit, limit};
        if (setrlimit(RLIMIT_AS, &cap) != 0) std::_Exit(13);
        SR_ButterworthFilter(image, SR_CHANNEL_RED, 100.0, 10.0, 2);
        const std::string said = testing::internal::GetCapturedStderr();
        std::fputs(said.c_str(), stderr);
        if (said != "Error: fftradix() - insufficient memory.\n") std::_Exit(2);
        if (image->planes[SR_CHANNEL_RED].samples != before) std::_Exit(3);
        std::_Exit(0);
    };
    EXPECT_EXIT(filterUnderLimit(), testing::ExitedWithCode(0),
                "Error: fftradix\\(\\) - insufficient memory\\.");
#endif
}
