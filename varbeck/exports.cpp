// The C exports. Update copies what it is given and hands it to a thread of
// its own; nothing of a check is shared with the caller or with other checks,
// so a second call never disturbs one that runs.
#include "check.h"
#include "varbeck.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

struct Handlers {
    VarbeckAskHandler ask = nullptr;
    VarbeckOpenHandler open = nullptr;
    void* context = nullptr;
    VarbeckDoneHandler done = nullptr;
    void* doneContext = nullptr;
    int32_t timeLimitMs = VARBECK_DEFAULT_TIME_LIMIT;
};

std::mutex g_mutex;
Handlers g_handlers;

// One check: its own copy of the address, the version and the handlers.
struct Check {
    std::string address;
    float version = 0;
    Handlers handlers;
};

int32_t Ask(const Check& check, const varbeck::InfoFile& info) {
    const Handlers& h = check.handlers;
    if (!h.ask) return VARBECK_NOT_ASKED;
    if (!h.ask(h.context, VARBECK_QUESTION_TITLE, VARBECK_QUESTION_TEXT)) return VARBECK_DECLINED;
    if (h.open) h.open(h.context, info.address.c_str());
    return VARBECK_ACCEPTED;
}

int32_t Run(const Check& check) {
    try {
        std::string body;
        if (const int32_t failed = varbeck::Fetch(check.address, check.handlers.timeLimitMs, body))
            return failed;
        const varbeck::InfoFile info = varbeck::ParseInfoFile(body.data(), body.size());
        if (const int32_t verdict = varbeck::Judge(info, check.version)) return verdict;
        return Ask(check, info);
    } catch (...) {
        return VARBECK_FETCH_FAILED;
    }
}

void Worker(Check* raw) {
    std::unique_ptr<Check> check(raw);
    const int32_t outcome = Run(*check);
    const Handlers h = check->handlers;
    check.reset();
    if (h.done) h.done(h.doneContext, outcome);
}

} // namespace

extern "C" {

VARBECK_API int32_t Update(const char* address, float version) {
    if (!address) return 0;
    try {
        auto check = std::make_unique<Check>();
        check->address = address;
        check->version = version;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            check->handlers = g_handlers;
        }
        // Not waited for: when the program ends first, the check just stops.
        std::thread(&Worker, check.get()).detach();
        check.release(); // the thread owns it now
        return 1;
    } catch (...) {
        return 0;
    }
}

VARBECK_API void VarbeckSetHandlers(VarbeckAskHandler ask, VarbeckOpenHandler open, void* context) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_handlers.ask = ask;
    g_handlers.open = open;
    g_handlers.context = context;
}

VARBECK_API void VarbeckSetDoneHandler(VarbeckDoneHandler done, void* context) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_handlers.done = done;
    g_handlers.doneContext = context;
}

VARBECK_API void VarbeckSetTimeLimit(int32_t milliseconds) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_handlers.timeLimitMs = milliseconds < 1 ? VARBECK_DEFAULT_TIME_LIMIT : milliseconds;
}

} // extern "C"
