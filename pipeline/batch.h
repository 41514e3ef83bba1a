#pragma once
// A saved treatment applied to many picture files: what pellorin-cli's apply
// does. A few workers (one per core by default) each take the next file, load
// it, treat it in place and save it, so that the decoding of one picture runs
// beside the treatment and encoding of others and every core has work while
// files remain. Each worker holds one picture at a time: however many files
// there are, at most as many pictures as workers are in memory at once, and
// the memory of finished pictures is kept for the next ones (the process's
// allocator is set, once, to keep freed large blocks rather than return them
// to the system): new pages cost more than reused ones.

#include "app/settings.h"
#include "pipeline/pipeline.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct BatchJob {
    std::string input;
    std::string output;
    std::string error; // set beforehand for an input that cannot run at all
};

struct BatchOptions {
    ProcessMode mode = ProcessMode::Final;
    ViewSize view;
    bool strip = false;           // no metadata in the results
    bool keepOrientation = false; // do not turn photographs upright
    int workers = 0;              // 0: one per core
    // When given, offered each job before it is loaded as a picture (videos
    // and animations go their own way): true when it took the job, with `why`
    // set when the job failed; false leaves the job to the picture path,
    // unless `why` is set, which fails it.
    std::function<bool(const BatchJob&, std::string& why)> other;
};

// Called from the workers, one call at a time (the batch serialises them), so
// that they may write to the terminal without locking.
struct BatchEvents {
    std::function<void(const BatchJob&, const std::string& why)> failed;
    // Metadata that could not be read or written: the job still succeeds.
    std::function<void(const BatchJob&, const std::string& what)> warning;
    // After each job, failed or not, with the number of jobs finished so far.
    std::function<void(const BatchJob&, size_t finished)> finished;
    // After each picture is loaded, with the number of pictures then in
    // memory (counted from the start of their loading to the end of their
    // saving). A test may hold the worker here.
    std::function<void(size_t inFlight)> loaded;
};

struct BatchResult {
    size_t failed = 0;
    // The most pictures that were in memory at once.
    size_t peakInFlight = 0;
};

// The number of workers a batch of `jobs` files uses with options.workers.
int BatchWorkers(int requested, size_t jobs);

BatchResult RunBatch(const std::vector<BatchJob>& jobs, const ProcessingSettings& settings,
                     const BatchOptions& options, const BatchEvents& events);
