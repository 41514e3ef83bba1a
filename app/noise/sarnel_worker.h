#pragma once
// The noise-reduction dialog's Sarnel handle and the one thread that calls the
// library for it. Filtering a large picture takes seconds, so the dialog hands
// every operation on the handle to this worker and stays responsive; the
// operations run one after another in the order they were posted, so a second
// Apply waits for the first and a colour-space change or a Reset pressed in
// between falls in its place.
//
// Sarnel keeps static work storage and is not reentrant: every call into it,
// from any worker, holds one process-wide lock.
//
// Each operation reports on the worker thread when it has finished; the caller
// moves that report to its own thread. Destroying the worker drops what has
// not started yet, waits for the running operation and releases the handle,
// so nothing touches the handle or the worker's data afterwards.

#include "app/bmp_file.h"
#include "app/noise/noise_filter.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CSarnelWorker {
public:
    // Keeps `source`; Reload makes the handle from it.
    explicit CSarnelWorker(BMP_File source);
    ~CSarnelWorker();
    CSarnelWorker(const CSarnelWorker&) = delete;
    CSarnelWorker& operator=(const CSarnelWorker&) = delete;

    using Done = std::function<void()>;
    // The rendered picture, or null when there is no handle or no memory.
    using Rendered = std::function<void(std::shared_ptr<BMP_File>)>;

    // Converts the handle's planes to `mode` (SR_ConvertSRB).
    void Convert(int mode, Done done);
    // Runs the filter on the channels, then renders the handle.
    void Filter(SarnelParams params, std::vector<SR_FilterType> channels, Rendered done);
    // Releases the handle (if any), loads a new one from the source picture and
    // converts it to `mode` (which also clamps, as opening does).
    void Reload(int mode, Done done);

    // Drops the operations that have not started; returns how many. Their
    // reports never come.
    size_t DropPending();
    // Operations posted that have not started yet.
    size_t Pending() const;
    // Blocks until every posted operation has finished.
    void WaitIdle();

    // The picture the handle was loaded from; it never changes.
    const BMP_File& Source() const { return m_source; }

    // The lock every call into Sarnel holds.
    static std::mutex& LibraryLock();

private:
    using Task = std::function<void()>;
    void Post(Task task);
    void Run();

    const BMP_File m_source;
    SR_Image* m_image = nullptr; // touched by the worker only, and by the destructor after it
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Task> m_queue;
    bool m_running = false; // an operation is being run
    bool m_stop = false;
    std::thread m_thread;
};
