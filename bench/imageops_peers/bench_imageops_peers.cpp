// Operations on a 12-megapixel picture with their peers in the same run:
// - the point operations against a memcpy of the picture (target: within 3x);
// - Blur at size 58 against size 6 (target: within 1.5x: the cost hardly
//   depends on the window);
// - Sobel against OpenCV's Sobel (target: within 2x);
// - nearest resize against OpenCV's resize with INTER_NEAREST (target: within
//   1.1x) and rotation against warpAffine with bilinear sampling (target:
//   within 1.5x), each on one thread and on every core.

#include "imageops/cpu_features.h"
#include "imageops/effect_table.h"
#include "imageops/geometry.h"
#include "imageops/parallel.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstring>

namespace {

constexpr int kW = 4000, kH = 3000;

const BMP_File& Picture() {
    static const BMP_File img = [] {
        BMP_File b;
        b.Create(kW, kH);
        for (int y = 0; y < kH; ++y) {
            CColor24* row = b.Row(y);
            for (int x = 0; x < kW; ++x)
                row[x] =
                    CColor24(uint8_t(x * 5 + y), uint8_t(y * 3 + x / 7), uint8_t((x ^ y) & 0xFF));
        }
        return b;
    }();
    return img;
}

cv::Mat PictureMat() {
    // The same bytes seen as an 8-bit, 3-channel OpenCV picture.
    return cv::Mat(kH, kW, CV_8UC3, const_cast<uint8_t*>(Picture().Bytes())).clone();
}

void BM_Memcpy(benchmark::State& state) {
    BMP_File work = Picture();
    for (auto _ : state) {
        std::memcpy(work.Bytes(), Picture().Bytes(), Picture().PixelBytes());
        benchmark::DoNotOptimize(work.Data());
    }
}

// An effect applied to the picture in place, as the pipeline does. Each run
// starts from a copy, so the copy is part of the time (as it is of memcpy's).
void Effect(benchmark::State& state, int id, ProcessingSettings s = {}) {
    BMP_File work = Picture();
    const EffectRow& row = *FindEffect(id);
    for (auto _ : state) {
        std::memcpy(work.Bytes(), Picture().Bytes(), Picture().PixelBytes());
        ApplyEffect(row, work, s);
        benchmark::DoNotOptimize(work.Data());
    }
}

void BM_Brightness(benchmark::State& state) {
    ProcessingSettings s;
    s.m_nBrightR = 60;
    s.m_nBrightG = 45;
    s.m_nBrightB = 70;
    Effect(state, 1, s);
}
void BM_Contrast(benchmark::State& state) {
    ProcessingSettings s;
    s.m_nContrastR = s.m_nContrastG = s.m_nContrastB = 65;
    Effect(state, 2, s);
}
void BM_InvertRed(benchmark::State& state) {
    Effect(state, 4);
}
void BM_GreyScale(benchmark::State& state) {
    Effect(state, 7);
}
void BM_SwapRB(benchmark::State& state) {
    Effect(state, 16);
}

void BM_Blur(benchmark::State& state) {
    ProcessingSettings s;
    s.m_nBlurSize = int(state.range(0));
    Effect(state, 0, s);
}

void BM_Sobel(benchmark::State& state) {
    Effect(state, 12);
}
void BM_OpenCvSobel(benchmark::State& state) {
    const cv::Mat src = PictureMat();
    cv::Mat dst;
    for (auto _ : state) {
        cv::Sobel(src, dst, CV_8U, 1, 0, 3);
        benchmark::DoNotOptimize(dst.data);
    }
}

// Resize and rotation run on one thread (argument 1) and on every core
// (argument 0), ours and OpenCV's alike.
void UseThreads(benchmark::State& state) {
    const int n = int(state.range(0));
    imageops::SetMaxWorkers(n);
    cv::setNumThreads(n > 0 ? n : -1); // -1: OpenCV's default, one per core
}

void BM_ResizeNearest(benchmark::State& state) {
    UseThreads(state);
    for (auto _ : state) {
        BMP_File work = Picture();
        ResizeImage(work, 3000, 2000);
        benchmark::DoNotOptimize(work.Data());
    }
}
void BM_OpenCvResizeNearest(benchmark::State& state) {
    UseThreads(state);
    const cv::Mat src = PictureMat();
    for (auto _ : state) {
        cv::Mat copy = src.clone(); // ours starts from a copy as well
        cv::Mat dst;
        cv::resize(copy, dst, cv::Size(3000, 2000), 0, 0, cv::INTER_NEAREST);
        benchmark::DoNotOptimize(dst.data);
    }
}

void BM_Rotate(benchmark::State& state) {
    UseThreads(state);
    BMP_File work = Picture();
    for (auto _ : state) {
        std::memcpy(work.Bytes(), Picture().Bytes(), Picture().PixelBytes());
        RotateImage(work, 17.0f, CColor24(10, 20, 30));
        benchmark::DoNotOptimize(work.Data());
    }
}
void BM_OpenCvRotate(benchmark::State& state) {
    UseThreads(state);
    const cv::Mat src = PictureMat();
    cv::Mat dst;
    const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(kW / 2.0f, kH / 2.0f), -17.0, 1.0);
    for (auto _ : state) {
        cv::warpAffine(src, dst, m, src.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                       cv::Scalar(10, 20, 30));
        benchmark::DoNotOptimize(dst.data);
    }
}

} // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Brightness)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contrast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InvertRed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GreyScale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwapRB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blur)->Arg(6)->Arg(58)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sobel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvSobel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeNearest)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCvResizeNearest)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Rotate)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCvRotate)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    // Which vector form the operations take on this processor.
    benchmark::AddCustomContext("vector target",
                                imageops::VectorTargetName(imageops::VectorTargetInUse()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
