// Registers handlers with the library that record every question, opened
// address and outcome, and lets a test wait for checks to end.
#pragma once

#include "varbeck/varbeck.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace varbeck_test {

class Recorder {
public:
    // Registers this recorder; the destructor waits for the checks it saw
    // started and unregisters it.
    explicit Recorder(bool answer = true) : m_answer(answer) {
        VarbeckSetHandlers(&AskThunk, &OpenThunk, this);
        VarbeckSetDoneHandler(&DoneThunk, this);
    }
    ~Recorder() {
        WaitForOutcomes(m_started, std::chrono::seconds(60));
        VarbeckSetHandlers(nullptr, nullptr, nullptr);
        VarbeckSetDoneHandler(nullptr, nullptr);
        VarbeckSetTimeLimit(0);
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Starts a check; counts it so that the destructor can wait for it.
    int32_t Start(const char* address, float version) {
        const int32_t rc = Update(address, version);
        if (rc == 1) ++m_started;
        return rc;
    }

    // Waits for the next outcome not yet returned; -1 after the timeout.
    int32_t Next(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, timeout, [&] { return m_outcomes.size() > m_taken; })) return -1;
        return m_outcomes[m_taken++];
    }
    bool WaitForOutcomes(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return m_outcomes.size() >= count; });
    }

    int Asked() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(m_questions.size());
    }
    std::vector<std::pair<std::string, std::string>> Questions() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_questions;
    }
    std::vector<std::string> Opened() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_opened;
    }
    std::vector<int32_t> Outcomes() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_outcomes;
    }

private:
    static int32_t AskThunk(void* self, const char* title, const char* text) {
        auto* r = static_cast<Recorder*>(self);
        std::lock_guard<std::mutex> lock(r->m_mutex);
        r->m_questions.emplace_back(title, text);
        return r->m_answer ? 1 : 0;
    }
    static void OpenThunk(void* self, const char* address) {
        auto* r = static_cast<Recorder*>(self);
        std::lock_guard<std::mutex> lock(r->m_mutex);
        r->m_opened.emplace_back(address);
    }
    static void DoneThunk(void* self, int32_t outcome) {
        auto* r = static_cast<Recorder*>(self);
        std::lock_guard<std::mutex> lock(r->m_mutex);
        r->m_outcomes.push_back(outcome);
        r->m_cv.notify_all();
    }

    const bool m_answer;
    size_t m_started = 0;
    size_t m_taken = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::pair<std::string, std::string>> m_questions;
    std::vector<std::string> m_opened;
    std::vector<int32_t> m_outcomes;
};

} // namespace varbeck_test
