#include "pipeline/batch.h"

#include "app/image_files.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// The pictures of a batch come one after another in blocks of the same few
// sizes. By default the allocator maps each large block afresh and unmaps it
// when it is freed, so every picture pays for touching tens of megabytes of
// new pages (on some systems more than the decoding itself). Taking large
// blocks from the heap and keeping freed memory there lets the next picture
// reuse the last one's pages; the process then holds the most memory its
// pictures in flight ever needed, which the bounded number of workers keeps
// small.
void KeepPictureMemoryForReuse() {
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_MAX, 0);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
    });
#endif
}

} // namespace

int BatchWorkers(int requested, size_t jobs) {
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    const int wanted = requested > 0 ? requested : cores;
    return int(std::max<size_t>(1, std::min(size_t(wanted), jobs)));
}

BatchResult RunBatch(const std::vector<BatchJob>& jobs, const ProcessingSettings& settings,
                     const BatchOptions& options, const BatchEvents& events) {
    KeepPictureMemoryForReuse();
    std::mutex eventLock;
    std::atomic<size_t> next{0}, finished{0}, failed{0}, inFlight{0}, peak{0};
    auto fail = [&](const BatchJob& job, const std::string& why) {
        ++failed;
        if (!events.failed) return;
        std::lock_guard lock(eventLock);
        events.failed(job, why);
    };
    auto warn = [&](const BatchJob& job, const std::string& what) {
        if (what.empty() || !events.warning) return;
        std::lock_guard lock(eventLock);
        events.warning(job, what);
    };
    // One picture, from its loading to its saving; the picture is freed before
    // the count drops.
    auto process = [&](const BatchJob& job) {
        BMP_File image;
        ImageMetadata metadata;
        std::string message, reason, warning;
        LoadOptions load;
        load.applyOrientation = !options.keepOrientation;
        load.metadata = &metadata;
        load.warning = &warning;
        SaveOptions save;
        save.metadata = &metadata;
        save.strip = options.strip;
        save.warning = &warning;
        const bool loaded = LoadImageFile(job.input, image, &message, &reason, load);
        warn(job, warning);
        if (!loaded) return fail(job, reason.empty() ? message : message + ": " + reason);
        if (events.loaded) events.loaded(inFlight.load());
        std::string why;
        if (!RunPipelineOn(image, settings, options.mode, options.view, &why) || image.Empty())
            return fail(job, why.empty() ? "the treatment left no picture" : why);
        if (!SaveImageFile(job.output, image, &message, save)) return fail(job, message);
        warn(job, warning);
    };
    auto worker = [&] {
        for (size_t i = next++; i < jobs.size(); i = next++) {
            const BatchJob& job = jobs[i];
            std::string why;
            if (!job.error.empty()) {
                fail(job, job.error);
            } else if (options.other && options.other(job, why)) {
                if (!why.empty()) fail(job, why);
            } else if (!why.empty()) {
                fail(job, why);
            } else {
                const size_t now = ++inFlight;
                size_t seen = peak.load();
                while (now > seen && !peak.compare_exchange_weak(seen, now)) {
                }
                process(job);
                --inFlight;
            }
            // Counted under the event lock so that the counts reach the
            // caller in order, as progress is shown.
            std::lock_guard lock(eventLock);
            const size_t done = ++finished;
            if (events.finished) events.finished(job, done);
        }
    };
    const int workers = BatchWorkers(options.workers, jobs.size());
    std::vector<std::thread> pool;
    for (int t = 1; t < workers; ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    return BatchResult{failed.load(), peak.load()};
}
