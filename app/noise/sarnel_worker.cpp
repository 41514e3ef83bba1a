#include "app/noise/sarnel_worker.h"

namespace {

// Every operation reports, even one that ran out of memory (it then reports
// like one without a handle), and nothing may leave the thread.
template <typename Fn> void Guarded(Fn&& fn) {
    try {
        fn();
    } catch (...) {
    }
}

} // namespace

std::mutex& CSarnelWorker::LibraryLock() {
    static std::mutex lock;
    return lock;
}

CSarnelWorker::CSarnelWorker(BMP_File source) : m_source(std::move(source)) {
    m_thread = std::thread([this] { Run(); });
}

CSarnelWorker::~CSarnelWorker() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    m_thread.join();
    std::lock_guard<std::mutex> library(LibraryLock());
    SR_UnloadBitmap(m_image);
}

void CSarnelWorker::Post(Task task) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_queue.push_back(std::move(task));
    }
    m_wake.notify_one();
}

size_t CSarnelWorker::DropPending() {
    std::lock_guard<std::mutex> guard(m_lock);
    const size_t n = m_queue.size();
    m_queue.clear();
    if (!m_running) m_idle.notify_all();
    return n;
}

size_t CSarnelWorker::Pending() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_queue.size();
}

void CSarnelWorker::WaitIdle() {
    std::unique_lock<std::mutex> guard(m_lock);
    m_idle.wait(guard, [this] { return m_queue.empty() && !m_running; });
}

void CSarnelWorker::Run() {
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> guard(m_lock);
            m_wake.wait(guard, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop) break;
            task = std::move(m_queue.front());
            m_queue.pop_front();
            m_running = true;
        }
        task();
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_running = false;
            if (m_queue.empty()) m_idle.notify_all();
        }
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_running = false;
    m_idle.notify_all();
}

void CSarnelWorker::Convert(int mode, Done done) {
    Post([this, mode, done = std::move(done)] {
        Guarded([&] {
            std::lock_guard<std::mutex> library(LibraryLock());
            SR_ConvertSRB(m_image, mode);
        });
        Guarded([&] {
            if (done) done();
        });
    });
}

void CSarnelWorker::Filter(SarnelParams params, std::vector<SR_FilterType> channels,
                           Rendered done) {
    Post([this, params, channels = std::move(channels), done = std::move(done)] {
        std::shared_ptr<BMP_File> result;
        SR_Bitmap* bitmap = nullptr;
        Guarded([&] {
            std::lock_guard<std::mutex> library(LibraryLock());
            if (m_image == nullptr) return;
            RunSarnelFilter(m_image, params, channels);
            bitmap = SR_GetBitmap(m_image);
        });
        Guarded([&] {
            auto picture = std::make_shared<BMP_File>();
            if (FromSarnelBitmap(bitmap, *picture)) result = std::move(picture);
        });
        SR_DeleteBitmap(bitmap);
        Guarded([&] {
            if (done) done(std::move(result));
        });
    });
}

void CSarnelWorker::Reload(int mode, Done done) {
    Post([this, mode, done = std::move(done)] {
        Guarded([&] {
            SR_Bitmap* bitmap = ToSarnelBitmap(m_source);
            std::lock_guard<std::mutex> library(LibraryLock());
            SR_UnloadBitmap(m_image);
            m_image = SR_LoadBitmap(bitmap);
            SR_DeleteBitmap(bitmap);
            SR_ConvertSRB(m_image, mode);
        });
        Guarded([&] {
            if (done) done();
        });
    });
}
