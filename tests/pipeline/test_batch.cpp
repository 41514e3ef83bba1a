// The batch behind pellorin-cli's apply: every job done once, each result the
// pipeline's own, a bounded number of pictures in memory however many files
// there are, and every worker busy at once while files remain.

#include "app/image_files.h"
#include "pipeline/batch.h"
#include "pipeline/pipeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <stdlib.h>

namespace {

namespace fs = std::filesystem;

struct Folder {
    fs::path path;
    Folder() {
        char templ[] = "/tmp/pellorin-batch-XXXXXX";
        path = ::mkdtemp(templ);
    }
    ~Folder() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

BMP_File Noise(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    BMP_File img;
    img.Create(w, h);
    for (size_t i = 0; i < img.PixelBytes(); ++i) img.Bytes()[i] = uint8_t(rng());
    return img;
}

// Sharpen, brightness and a nearest resize: the treatment of a usual batch.
ProcessingSettings Treatment() {
    ProcessingSettings s;
    s.SetViewDefaults(400, 300);
    s.m_aEffects = {14, 1};
    s.m_aEffectChecks = {1, 1};
    s.m_nBrightR = s.m_nBrightG = s.m_nBrightB = 62;
    s.m_bResize = 1;
    s.m_nSizeX = 31;
    s.m_nSizeY = 17;
    return s;
}

} // namespace

TEST(Pipeline, TreatingThePictureInPlaceGivesTheCopysResult) {
    const ProcessingSettings s = Treatment();
    for (ProcessMode mode : {ProcessMode::Final, ProcessMode::Preview}) {
        const BMP_File input = Noise(53, 41, 5);
        BMP_File work, inPlace = input;
        std::string e1, e2;
        ASSERT_TRUE(RunPipeline(input, s, mode, ViewSize{400, 300}, work, &e1)) << e1;
        ASSERT_TRUE(RunPipelineOn(inPlace, s, mode, ViewSize{400, 300}, &e2)) << e2;
        EXPECT_TRUE(inPlace.SameAs(work));
    }
    BMP_File empty;
    EXPECT_FALSE(RunPipelineOn(empty, s, ProcessMode::Final, ViewSize{}));
}

TEST(Batch, ManyPicturesWithABoundedNumberInFlightAndEveryWorkerBusy) {
    // 3 workers on 40 files: the first three pictures are held as they load
    // until all three are in memory at once (every worker has work), and no
    // more than three are ever in memory.
    Folder dir;
    const ProcessingSettings s = Treatment();
    std::vector<BatchJob> jobs;
    std::vector<BMP_File> inputs;
    for (int i = 0; i < 40; ++i) {
        inputs.push_back(Noise(40 + i, 30 + i % 7, unsigned(i)));
        const std::string in = dir / ("in" + std::to_string(i) + ".png");
        ASSERT_TRUE(SaveImageFile(in, inputs.back()));
        jobs.push_back(BatchJob{in, dir / ("out" + std::to_string(i) + ".bmp"), {}});
    }
    std::mutex lock;
    std::condition_variable allLoaded;
    size_t firstLoads = 0, mostSeen = 0;
    bool heldTogether = false;
    BatchOptions options;
    options.workers = 3;
    BatchEvents events;
    std::set<std::string> finishedInputs;
    size_t lastFinished = 0;
    events.loaded = [&](size_t inFlight) {
        std::unique_lock guard(lock);
        mostSeen = std::max(mostSeen, inFlight);
        if (firstLoads >= 3) return;
        if (++firstLoads == 3) {
            heldTogether = inFlight == 3;
            allLoaded.notify_all();
        } else {
            allLoaded.wait_for(guard, std::chrono::seconds(20), [&] { return firstLoads >= 3; });
        }
    };
    events.finished = [&](const BatchJob& job, size_t finished) {
        finishedInputs.insert(job.input);
        EXPECT_EQ(finished, lastFinished + 1);
        lastFinished = finished;
    };
    events.failed = [&](const BatchJob& job, const std::string& why) {
        ADD_FAILURE() << job.input << ": " << why;
    };
    const BatchResult result = RunBatch(jobs, s, options, events);
    EXPECT_EQ(result.failed, 0u);
    EXPECT_TRUE(heldTogether);
    EXPECT_EQ(result.peakInFlight, 3u);
    EXPECT_LE(mostSeen, 3u);
    EXPECT_EQ(finishedInputs.size(), jobs.size());
    for (size_t i = 0; i < jobs.size(); ++i) {
        BMP_File expected, got;
        ASSERT_TRUE(RunPipeline(inputs[i], s, ProcessMode::Final, ViewSize{}, expected));
        ASSERT_TRUE(LoadImageFile(jobs[i].output, got)) << jobs[i].output;
        EXPECT_TRUE(got.SameAs(expected)) << jobs[i].output;
    }
}

TEST(Batch, InFlightStaysAtTheWorkerCountWhateverTheFolderSize) {
    Folder dir;
    ProcessingSettings s;
    s.SetViewDefaults(400, 300);
    const std::string in = dir / "one.bmp";
    ASSERT_TRUE(SaveImageFile(in, Noise(20, 10, 1)));
    for (int workers : {1, 2, 5}) {
        std::vector<BatchJob> jobs;
        for (int i = 0; i < 120; ++i)
            jobs.push_back(BatchJob{in, dir / ("o" + std::to_string(i % 9) + ".bmp"), {}});
        BatchOptions options;
        options.workers = workers;
        size_t mostSeen = 0;
        std::mutex lock;
        BatchEvents events;
        events.loaded = [&](size_t inFlight) {
            std::lock_guard guard(lock);
            mostSeen = std::max(mostSeen, inFlight);
        };
        const BatchResult result = RunBatch(jobs, s, options, events);
        EXPECT_EQ(result.failed, 0u);
        EXPECT_GE(result.peakInFlight, 1u);
        EXPECT_LE(result.peakInFlight, size_t(workers));
        EXPECT_LE(mostSeen, size_t(workers));
    }
    EXPECT_EQ(BatchWorkers(4, 2), 2);
    EXPECT_EQ(BatchWorkers(4, 0), 1);
    EXPECT_EQ(BatchWorkers(3, 100), 3);
    EXPECT_GE(BatchWorkers(0, 100), 1);
}

TEST(Batch, FailuresAreCountedAndReportedOnceEach) {
    // A job refused beforehand, a missing file and a file that is no picture
    // fail; the good one is still saved. Nothing counts as in flight after a
    // failure.
    Folder dir;
    ProcessingSettings s;
    s.SetViewDefaults(400, 300);
    ASSERT_TRUE(SaveImageFile(dir / "good.png", Noise(12, 9, 3)));
    {
        std::FILE* f = std::fopen((dir / "junk.png").c_str(), "wb");
        std::fputs("not a picture", f);
        std::fclose(f);
    }
    const std::vector<BatchJob> jobs = {
        {dir / "refused.png", "", "no images in this folder"},
        {dir / "missing.png", dir / "a.png", {}},
        {dir / "junk.png", dir / "b.png", {}},
        {dir / "good.png", dir / "c.png", {}},
    };
    std::vector<std::string> reported;
    BatchEvents events;
    events.failed = [&](const BatchJob& job, const std::string& why) {
        reported.push_back(job.input + ": " + why);
    };
    BatchOptions options;
    options.workers = 2;
    const BatchResult result = RunBatch(jobs, s, options, events);
    EXPECT_EQ(result.failed, 3u);
    ASSERT_EQ(reported.size(), 3u);
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported[0].rfind(jobs[2].input + ": ", 0), 0u) << reported[0];
    EXPECT_EQ(reported[1].rfind(jobs[1].input + ": ", 0), 0u) << reported[1];
    EXPECT_EQ(reported[2], jobs[0].input + ": no images in this folder");
    BMP_File c;
    EXPECT_TRUE(LoadImageFile(dir / "c.png", c));
    EXPECT_FALSE(fs::exists(dir / "a.png"));
    EXPECT_FALSE(fs::exists(dir / "b.png"));
    EXPECT_LE(result.peakInFlight, 2u);
}
