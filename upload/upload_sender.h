#pragma once
// Sends an upload request to the image host and reads its answer: plain TCP or
// TLS, every wait bounded in time and cut short when the progress side asks to
// stop. The host name is looked up through a function the caller may replace.

#include "upload/upload_request.h"
#include "upload/upload_server.h"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// What the sender reports to while it works. It is called on the sender's
// thread.
class CUploadProgressManager {
public:
    virtual ~CUploadProgressManager() = default;
    virtual void SetProgress(int percent) = 0; // 0..100
    virtual void Finished() = 0;               // the answer has arrived
    virtual bool GoOn() = 0;                   // false once the user cancelled
};

struct ResolvedAddress {
    sockaddr_storage address{};
    socklen_t length = 0;
};

// The addresses of host, each with port set; empty with error filled when the
// host cannot be found.
using NameLookup = std::function<std::vector<ResolvedAddress>(const std::string& host,
                                                              uint16_t port, std::string& error)>;
// The machine's resolver (getaddrinfo).
std::vector<ResolvedAddress> SystemNameLookup(const std::string& host, uint16_t port,
                                              std::string& error);

enum UploadResult : int {
    kUploadOk = 0,
    kUploadAborted = 4,
    kUploadNoSocket = -100,
    kUploadConnectFailed = -101,
    kUploadNotAccepted = -102,
    kUploadHostNotFound = -103,
    kUploadSecureFailed = -104,
    kUploadConnectionLost = -105,
    kUploadTimedOut = -106,
    kUploadAnswerTooLarge = -107,
    kUploadAnswerMalformed = -108,
};

struct UploadLimits {
    // Connecting, including the TLS handshake.
    std::chrono::milliseconds connect{20000};
    // The longest the server may leave us waiting to take or give any bytes.
    std::chrono::milliseconds idle{60000};
    // The whole answer, from the end of the request on.
    std::chrono::milliseconds answer{120000};
    size_t maxHeaderBytes = 64 * 1024;
    size_t maxAnswerBytes = 16 * 1024 * 1024;
};

struct UploadOptions {
    UploadLimits limits;
    NameLookup lookup = SystemNameLookup;
    // A certificate file trusted besides the system's authorities (tests use a
    // certificate they make themselves).
    std::string extraTrustFile;
};

struct UploadOutcome {
    int result = kUploadAborted;
    std::string answer;  // the body of the answer, carriage returns removed
    std::string message; // for a failure: what went wrong, for the user
};

// Sends the request on the calling thread. Progress: 0 once connected, then 100
// after the file bytes (or 1..99 and 100 for a file sent in chunks).
UploadOutcome SendUpload(const UploadRequest& request, const UploadServer& server,
                         CUploadProgressManager& progress, const UploadOptions& options);

// One upload on a worker thread of its own (below normal priority).
class CUploadJob {
public:
    CUploadJob(UploadRequest request, UploadServer server, UploadOptions options,
               CUploadProgressManager& progress);
    ~CUploadJob(); // waits for the worker, which stops soon once GoOn() is false
    CUploadJob(const CUploadJob&) = delete;
    CUploadJob& operator=(const CUploadJob&) = delete;

    void Start();
    bool IsFinished() const { return finished_.load(std::memory_order_acquire); }
    void Wait();
    // Valid once IsFinished() (or after Wait()).
    const UploadOutcome& Outcome() const { return outcome_; }

private:
    UploadRequest request_;
    UploadServer server_;
    UploadOptions options_;
    CUploadProgressManager& progress_;
    UploadOutcome outcome_;
    std::atomic<bool> finished_{false};
    std::thread worker_;
};
