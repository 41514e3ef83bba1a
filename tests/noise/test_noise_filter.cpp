// The dialog's work without widgets: reading its edit fields, the bitmap
// exchange with Sarnel, the filter dispatch, and the worker's order of
// operations, dropping and shutdown.

#include "app/noise/noise_filter.h"
#include "app/noise/sarnel_worker.h"
#include "noise_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <climits>
#include <cmath>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace noise_test;

TEST(NoiseEditText, LeadingIntReadsTheLeadingDigits) {
    EXPECT_EQ(LeadingInt("150"), 150);
    EXPECT_EQ(LeadingInt("  42x"), 42);
    EXPECT_EQ(LeadingInt("-7"), -7);
    EXPECT_EQ(LeadingInt("+5"), 5);
    EXPECT_EQ(LeadingInt("1 2"), 1);
    EXPECT_EQ(LeadingInt("3.9"), 3);
    EXPECT_EQ(LeadingInt("abc"), 0);
    EXPECT_EQ(LeadingInt(""), 0);
    EXPECT_EQ(LeadingInt("-"), 0);
    EXPECT_EQ(LeadingInt("- 3"), 0);
    EXPECT_EQ(LeadingInt("2147483647"), INT_MAX);
    EXPECT_EQ(LeadingInt("-2147483648"), INT_MIN);
    // Beyond the range the value saturates instead of wrapping.
    EXPECT_EQ(LeadingInt("2147483648"), INT_MAX);
    EXPECT_EQ(LeadingInt("99999999999999999999999999"), INT_MAX);
    EXPECT_EQ(LeadingInt("-99999999999999999999999999"), INT_MIN);
}

TEST(NoiseEditText, LeadingRealReadsDecimalNumbersOnly) {
    EXPECT_DOUBLE_EQ(LeadingReal("0.0025"), 0.0025);
    EXPECT_DOUBLE_EQ(LeadingReal(" .5"), 0.5);
    EXPECT_DOUBLE_EQ(LeadingReal("5."), 5.0);
    EXPECT_DOUBLE_EQ(LeadingReal("-0.5x"), -0.5);
    EXPECT_DOUBLE_EQ(LeadingReal("+2.25"), 2.25);
    EXPECT_DOUBLE_EQ(LeadingReal("1e-3"), 0.001);
    EXPECT_DOUBLE_EQ(LeadingReal("2e"), 2.0) << "an exponent without digits is not read";
    EXPECT_DOUBLE_EQ(LeadingReal("2e+"), 2.0);
    EXPECT_DOUBLE_EQ(LeadingReal("1,5"), 1.0) << "the point is the decimal sign";
    for (const char* text : {"", "abc", ".", "-", "-.", "inf", "nan", "-inf", "infinity"})
        EXPECT_EQ(LeadingReal(text), 0.0) << text;
    EXPECT_EQ(LeadingReal("0x10"), 0.0) << "no hexadecimal";
    EXPECT_EQ(LeadingReal("1e999"), DBL_MAX);
    EXPECT_EQ(LeadingReal("-1e999"), -DBL_MAX);
    EXPECT_EQ(LeadingReal(std::string(400, '9')), DBL_MAX);
    EXPECT_EQ(LeadingReal("1e-999"), 0.0);
}

TEST(NoiseEditText, WienerSpinPositionRoundsUp) {
    EXPECT_EQ(WienerSpinPosition(0.0025), 25);
    EXPECT_EQ(WienerSpinPosition(0.00251), 26);
    EXPECT_EQ(WienerSpinPosition(0.00009), 1);
    EXPECT_EQ(WienerSpinPosition(0.0), 0);
    EXPECT_EQ(WienerSpinPosition(-0.00005), 0);
    EXPECT_EQ(WienerSpinPosition(1.0), 10000);
    EXPECT_EQ(WienerSpinPosition(1e300), INT_MAX);
    EXPECT_EQ(WienerSpinPosition(-1e300), INT_MIN);
    EXPECT_EQ(WienerSpinPosition(std::nan("")), 0);
    // Every value the dialog writes ("%.4f" of position / 10000) reads back as
    // its position, although some products land an ulp above the whole number
    // (0.0007 * 10000 is 7.000000000000001).
    int mismatches = 0;
    for (int k = 0; k <= 10000; ++k) {
        char text[32];
        std::snprintf(text, sizeof text, "%.4f", k / 10000.0);
        if (WienerSpinPosition(LeadingReal(text)) != k && ++mismatches < 5)
            ADD_FAILURE() << text << " gives " << WienerSpinPosition(LeadingReal(text));
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(NoiseBitmaps, PicturesCrossBothWays) {
    const BMP_File picture = NoisyPicture(7, 5);
    SR_Bitmap* bm = ToSarnelBitmap(picture);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->width, 7);
    EXPECT_EQ(bm->height, 5);
    const uint8_t* p = bm->pixels + 2 * size_t(bm->stride) + 4 * 3;
    const CColor24 c = picture.Pixel(3, 2);
    EXPECT_EQ((std::array{p[0], p[1], p[2], p[3]}), (std::array<uint8_t, 4>{c.b, c.g, c.r, 255}));
    BMP_File back;
    ASSERT_TRUE(FromSarnelBitmap(bm, back));
    EXPECT_TRUE(back.SameAs(picture));
    SR_DeleteBitmap(bm);
    EXPECT_EQ(ToSarnelBitmap(BMP_File()), nullptr);
}

TEST(NoiseBitmaps, RowsAreReadByTheirStride) {
    // A bitmap from elsewhere may pad its rows.
    const int w = 3, h = 2, stride = 4 * w + 8;
    std::vector<uint8_t> pixels(size_t(stride) * h, 0xEE);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* q = pixels.data() + size_t(y) * stride + 4 * x;
            q[0] = uint8_t(10 * x);      // blue
            q[1] = uint8_t(100 + y);     // green
            q[2] = uint8_t(200 + x + y); // red
            q[3] = 7;
        }
    SR_Bitmap bm{w, h, stride, pixels.data()};
    BMP_File out;
    ASSERT_TRUE(FromSarnelBitmap(&bm, out));
    EXPECT_EQ(out.Pixel(2, 1), CColor24(203, 101, 20));
    EXPECT_EQ(out.Pixel(0, 1), CColor24(201, 101, 0));

    // Malformed bitmaps leave the picture as it was.
    const BMP_File before = out;
    SR_Bitmap narrow{w, h, 4 * w - 1, pixels.data()};
    SR_Bitmap empty{0, h, stride, pixels.data()};
    SR_Bitmap negative{w, -1, stride, pixels.data()};
    SR_Bitmap noPixels{w, h, stride, nullptr};
    for (const SR_Bitmap* bad : {&narrow, &empty, &negative, &noPixels}) {
        EXPECT_FALSE(FromSarnelBitmap(bad, out));
        EXPECT_TRUE(out.SameAs(before));
    }
    EXPECT_FALSE(FromSarnelBitmap(nullptr, out));
}

TEST(NoiseFilterDispatch, UnknownChoicesChangeNothing) {
    const BMP_File picture = NoisyPicture(12, 9);
    const std::vector<SR_FilterType> rgb = {0, 1, 2};
    for (int filter : {-1, 15, 99}) {
        SarnelParams p;
        p.filter = filter;
        EXPECT_TRUE(
            Expected(picture, [&](SR_Image* i) { RunSarnelFilter(i, p, rgb); }).SameAs(picture))
            << filter;
    }
    SarnelParams p;
    p.filter = kSarnelPercentile;
    p.percentile = 3;
    EXPECT_TRUE(
        Expected(picture, [&](SR_Image* i) { RunSarnelFilter(i, p, rgb); }).SameAs(picture));
    // HSV channels on a handle in RGB find empty planes.
    p.percentile = 1;
    const std::vector<SR_FilterType> hsv = {3, 4, 5};
    EXPECT_TRUE(
        Expected(picture, [&](SR_Image* i) { RunSarnelFilter(i, p, hsv); }).SameAs(picture));
}

TEST(NoiseFilterDispatch, TheUnselectableNotchValueCallsTheButterworthName) {
    const BMP_File picture = NoisyPicture(16, 12);
    SarnelParams p;
    p.filter = kSarnelNotchButterworth;
    p.notchD0 = 4;
    p.notchU0 = 3;
    p.notchV0 = 2;
    p.notchOrder = 2;
    const std::vector<SR_FilterType> red = {0};
    const BMP_File got = Expected(picture, [&](SR_Image* i) { RunSarnelFilter(i, p, red); });
    EXPECT_TRUE(got.SameAs(
        Expected(picture, [](SR_Image* i) { SR_NbButterworthFilter(i, 0, 4.0, 3.0, 2.0, 2); })));
    EXPECT_FALSE(got.SameAs(picture));
}

// ---------------------------------------------------------------------------

namespace {

// Reports arrive on the worker thread.
struct Log {
    std::mutex lock;
    std::vector<std::string> entries;
    std::vector<std::shared_ptr<BMP_File>> pictures;
    void Add(std::string e) {
        std::lock_guard<std::mutex> g(lock);
        entries.push_back(std::move(e));
    }
    std::vector<std::string> Entries() {
        std::lock_guard<std::mutex> g(lock);
        return entries;
    }
};

SarnelParams Median() {
    SarnelParams p;
    p.filter = kSarnelPercentile;
    return p;
}

} // namespace

TEST(NoiseWorker, OperationsRunInTheOrderPosted) {
    const BMP_File picture = NoisyPicture(20, 16);
    Log log;
    CSarnelWorker worker(picture);
    worker.Filter(Median(), {0, 1, 2}, [&](std::shared_ptr<BMP_File> r) {
        log.Add(r ? "no-handle-yet:rendered" : "no-handle-yet:null");
    });
    worker.Reload(SR_MODE_HSV, [&] { log.Add("reload"); });
    worker.Filter(Median(), {3, 4, 5}, [&](std::shared_ptr<BMP_File> r) {
        log.Add("filter");
        std::lock_guard<std::mutex> g(log.lock);
        log.pictures.push_back(r);
    });
    worker.Convert(SR_MODE_RGB, [&] { log.Add("convert"); });
    worker.Filter(Median(), {0}, [&](std::shared_ptr<BMP_File> r) {
        log.Add("filter");
        std::lock_guard<std::mutex> g(log.lock);
        log.pictures.push_back(r);
    });
    worker.WaitIdle();
    EXPECT_EQ(log.Entries(), (std::vector<std::string>{"no-handle-yet:null", "reload", "filter",
                                                       "convert", "filter"}));
    ASSERT_EQ(log.pictures.size(), 2u);
    ASSERT_TRUE(log.pictures[0] && log.pictures[1]);
    auto hsvMedian = [](SR_Image* img) {
        SR_ConvertSRB(img, 1);
        OnChannels(img, 3, [](SR_Image* i, int c) { SR_MedianFilter(i, c, 3, 3); });
    };
    EXPECT_TRUE(log.pictures[0]->SameAs(Expected(picture, hsvMedian)));
    EXPECT_TRUE(log.pictures[1]->SameAs(Expected(picture, [&](SR_Image* img) {
        hsvMedian(img);
        SR_DeleteBitmap(SR_GetBitmap(img)); // rendering the first result requantised
        SR_ConvertSRB(img, 0);
        SR_MedianFilter(img, 0, 3, 3);
    })));
}

TEST(NoiseWorker, DroppedOperationsNeverReport) {
    Log log;
    CSarnelWorker worker(NoisyPicture(16, 16));
    worker.Reload(SR_MODE_RGB, [&] { log.Add("reload"); });
    worker.WaitIdle();
    {
        // The first filter starts and waits for the library; the others queue.
        std::unique_lock<std::mutex> library(CSarnelWorker::LibraryLock());
        for (int i = 0; i < 3; ++i)
            worker.Filter(Median(), {0}, [&log, i](std::shared_ptr<BMP_File>) {
                log.Add("filter" + std::to_string(i));
            });
        ASSERT_TRUE(WaitFor([&] { return worker.Pending() == 2; }));
        EXPECT_EQ(worker.DropPending(), 2u);
        EXPECT_EQ(worker.Pending(), 0u);
    }
    worker.WaitIdle();
    EXPECT_EQ(log.Entries(), (std::vector<std::string>{"reload", "filter0"}));
    EXPECT_EQ(worker.DropPending(), 0u);
}

TEST(NoiseWorker, DestructionWaitsForTheRunningOperationAndDropsTheRest) {
    Log log;
    std::atomic<bool> destroyed{false};
    // Another thread holds the library until told, then a moment longer, so
    // that destruction begins while the first operation waits for it.
    std::promise<void> locked, go;
    std::thread holder([&] {
        std::lock_guard<std::mutex> library(CSarnelWorker::LibraryLock());
        locked.set_value();
        go.get_future().wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    });
    locked.get_future().wait();
    auto worker = std::make_unique<CSarnelWorker>(NoisyPicture(16, 16));
    worker->Reload(SR_MODE_RGB, [&] { log.Add(destroyed ? "late" : "reload"); });
    for (int i = 0; i < 3; ++i)
        worker->Filter(Median(), {0}, [&](std::shared_ptr<BMP_File>) { log.Add("filter"); });
    ASSERT_TRUE(WaitFor([&] { return worker->Pending() == 3; }));
    go.set_value();
    worker.reset();
    destroyed = true;
    holder.join();
    EXPECT_EQ(log.Entries(), (std::vector<std::string>{"reload"}));
    EXPECT_TRUE(CSarnelWorker::LibraryLock().try_lock()) << "nothing holds the library";
    CSarnelWorker::LibraryLock().unlock();
}
