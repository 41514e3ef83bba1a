#include "upload/upload_sender.h"

#include "upload/upload_answer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Every wait is cut into slices this long so that a cancel is seen quickly.
constexpr milliseconds kSlice{50};

enum class Io { Ok, Closed, Cancelled, TimedOut, Failed };

std::string ErrnoText(int e) {
    return std::strerror(e);
}

std::string OpenSslErrorText() {
    const unsigned long e = ERR_get_error();
    if (e == 0) return "the secure connection failed";
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

bool IsIpLiteral(const std::string& host) {
    in6_addr a6;
    in_addr a4;
    return inet_pton(AF_INET, host.c_str(), &a4) == 1 ||
           inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

std::string HostAndPort(const UploadServer& s) {
    const bool v6 = s.host.find(':') != std::string::npos;
    return (v6 ? "[" + s.host + "]" : s.host) + ":" + std::to_string(s.port);
}

// One connection to the server, plain or TLS. TLS runs over memory buffers so
// that every byte on the socket passes through the same bounded, cancellable
// waits as plain data does (and a closed peer never raises SIGPIPE).
class Connection {
public:
    Connection(CUploadProgressManager& progress, const UploadLimits& limits)
        : progress_(progress), limits_(limits) {}
    ~Connection() {
        if (ssl_) SSL_free(ssl_); // frees both memory buffers too
        if (ctx_) SSL_CTX_free(ctx_);
        if (fd_ >= 0) ::close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& Error() const { return error_; }
    bool SocketFailed() const { return socketFailed_; }

    Io Connect(const std::vector<ResolvedAddress>& addresses) {
        const Clock::time_point deadline = Clock::now() + limits_.connect;
        Io last = Io::Failed;
        for (const ResolvedAddress& a : addresses) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = ::socket(a.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd_ < 0) {
                error_ = ErrnoText(errno);
                socketFailed_ = true;
                continue;
            }
            socketFailed_ = false;
            if (::connect(fd_, reinterpret_cast<const sockaddr*>(&a.address), a.length) == 0)
                return Io::Ok;
            if (errno != EINPROGRESS) {
                error_ = ErrnoText(errno);
                continue;
            }
            last = Wait(POLLOUT, deadline);
            if (last == Io::Cancelled || last == Io::TimedOut) return last;
            if (last != Io::Ok) continue;
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            if (err == 0) return Io::Ok;
            error_ = ErrnoText(err);
            last = Io::Failed;
        }
        return Io::Failed;
    }

    Io StartTls(const UploadServer& server, const std::string& trustFile) {
        ctx_ = SSL_CTX_new(TLS_client_method());
        if (!ctx_) return TlsFailure();
        SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_default_verify_paths(ctx_);
        if (!trustFile.empty() &&
            SSL_CTX_load_verify_locations(ctx_, trustFile.c_str(), nullptr) != 1)
            return TlsFailure();
        ssl_ = SSL_new(ctx_);
        if (!ssl_) return TlsFailure();
        BIO* in = BIO_new(BIO_s_mem());
        BIO* out = BIO_new(BIO_s_mem());
        if (!in || !out) {
            BIO_free(in);
            BIO_free(out);
            return TlsFailure();
        }
        BIO_set_mem_eof_return(in, -1); // empty means "wait for more", not end
        SSL_set_bio(ssl_, in, out);
        in_ = in;
        out_ = out;
        // The certificate must name the host we asked for.
        if (IsIpLiteral(server.host)) {
            if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), server.host.c_str()) != 1)
                return TlsFailure();
        } else {
            SSL_set_tlsext_host_name(ssl_, server.host.c_str());
            if (SSL_set1_host(ssl_, server.host.c_str()) != 1) return TlsFailure();
        }
        SSL_set_connect_state(ssl_);

        const Clock::time_point deadline = Clock::now() + limits_.connect;
        for (;;) {
            ERR_clear_error();
            const int r = SSL_do_handshake(ssl_);
            const int e = r == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, r);
            const Io flushed = FlushTls(deadline);
            if (flushed != Io::Ok) return flushed;
            if (r == 1) return Io::Ok;
            if (e == SSL_ERROR_WANT_READ) {
                const Io filled = FillTls(deadline);
                if (filled == Io::Closed) {
                    error_ = "the server closed the connection during the handshake";
                    return Io::Failed;
                }
                if (filled != Io::Ok) return filled;
                continue;
            }
            if (e == SSL_ERROR_WANT_WRITE) continue;
            const long verify = SSL_get_verify_result(ssl_);
            if (verify != X509_V_OK) {
                error_ = X509_verify_cert_error_string(verify);
                return Io::Failed;
            }
            return TlsFailure();
        }
    }

    Io SendAll(const uint8_t* data, size_t n) {
        if (!ssl_) return RawSend(data, n, Clock::time_point::max());
        while (n > 0) {
            const int piece = int(std::min<size_t>(n, 16384));
            ERR_clear_error();
            const int w = SSL_write(ssl_, data, piece);
            if (w <= 0) {
                const int e = SSL_get_error(ssl_, w);
                if (e == SSL_ERROR_WANT_READ) {
                    const Io filled = FillTls(Clock::time_point::max());
                    if (filled == Io::Closed) {
                        error_ = "the server closed the connection";
                        return Io::Failed;
                    }
                    if (filled != Io::Ok) return filled;
                    continue;
                }
                if (e != SSL_ERROR_WANT_WRITE) return TlsFailure();
            } else {
                data += w;
                n -= size_t(w);
            }
            const Io flushed = FlushTls(Clock::time_point::max());
            if (flushed != Io::Ok) return flushed;
        }
        return Io::Ok;
    }

    // got is 0 exactly when the result is Closed.
    Io Receive(char* buf, size_t cap, size_t& got, Clock::time_point deadline) {
        got = 0;
        if (!ssl_) return RawReceive(buf, cap, got, deadline);
        for (;;) {
            ERR_clear_error();
            const int r = SSL_read(ssl_, buf, int(std::min<size_t>(cap, 1 << 30)));
            if (r > 0) {
                got = size_t(r);
                return Io::Ok;
            }
            const int e = SSL_get_error(ssl_, r);
            if (e == SSL_ERROR_ZERO_RETURN) return Io::Closed;
            if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) return TlsFailure();
            const Io flushed = FlushTls(deadline);
            if (flushed != Io::Ok) return flushed;
            if (e == SSL_ERROR_WANT_READ) {
                // A peer that closes without the TLS goodbye still ends the answer.
                const Io filled = FillTls(deadline);
                if (filled != Io::Ok) return filled;
            }
        }
    }

    // Tells the server the request is complete. Over TLS the goodbye would end
    // the session before the answer (TLS 1.2 has no half-close); the server
    // knows the request's end from its length.
    bool ShutdownSend() {
        if (ssl_) return true;
        if (::shutdown(fd_, SHUT_WR) == 0) return true;
        error_ = ErrnoText(errno);
        return false;
    }

private:
    // Waits for the socket, at most until deadline and at most the idle limit,
    // checking for a cancel between slices.
    Io Wait(short events, Clock::time_point deadline) {
        deadline = std::min(deadline, Clock::now() + limits_.idle);
        for (;;) {
            if (!progress_.GoOn()) return Io::Cancelled;
            const Clock::time_point now = Clock::now();
            if (now >= deadline) return Io::TimedOut;
            const auto left = std::chrono::ceil<milliseconds>(deadline - now);
            pollfd p{fd_, events, 0};
            const int r = ::poll(&p, 1, int(std::min(left, kSlice).count()));
            if (r > 0) return Io::Ok; // errors show in the call that follows
            if (r < 0 && errno != EINTR) {
                error_ = ErrnoText(errno);
                return Io::Failed;
            }
        }
    }

    Io RawSend(const uint8_t* data, size_t n, Clock::time_point deadline) {
        while (n > 0) {
            const ssize_t s = ::send(fd_, data, n, MSG_NOSIGNAL);
            if (s > 0) {
                data += s;
                n -= size_t(s);
                continue;
            }
            if (s < 0 && errno == EINTR) continue;
            if (s < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                const Io w = Wait(POLLOUT, deadline);
                if (w != Io::Ok) return w;
                continue;
            }
            error_ = ErrnoText(s < 0 ? errno : EPIPE);
            return Io::Failed;
        }
        return Io::Ok;
    }

    Io RawReceive(char* buf, size_t cap, size_t& got, Clock::time_point deadline) {
        for (;;) {
            const ssize_t r = ::recv(fd_, buf, cap, 0);
            if (r > 0) {
                got = size_t(r);
                return Io::Ok;
            }
            if (r == 0) return Io::Closed;
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                const Io w = Wait(POLLIN, deadline);
                if (w != Io::Ok) return w;
                continue;
            }
            error_ = ErrnoText(errno);
            return Io::Failed;
        }
    }

    // Sends whatever TLS has queued for the server.
    Io FlushTls(Clock::time_point deadline) {
        char buf[16384];
        while (BIO_ctrl_pending(out_) > 0) {
            const int n = BIO_read(out_, buf, sizeof buf);
            if (n <= 0) break;
            const Io s = RawSend(reinterpret_cast<const uint8_t*>(buf), size_t(n), deadline);
            if (s != Io::Ok) return s;
        }
        return Io::Ok;
    }

    // Hands the next bytes from the server to TLS.
    Io FillTls(Clock::time_point deadline) {
        char buf[16384];
        size_t got = 0;
        const Io r = RawReceive(buf, sizeof buf, got, deadline);
        if (r != Io::Ok) return r;
        if (BIO_write(in_, buf, int(got)) != int(got)) return TlsFailure();
        return Io::Ok;
    }

    Io TlsFailure() {
        error_ = OpenSslErrorText();
        return Io::Failed;
    }

    CUploadProgressManager& progress_;
    const UploadLimits& limits_;
    int fd_ = -1;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;  // owned by ssl_
    BIO* out_ = nullptr; // owned by ssl_
    std::string error_;
    bool socketFailed_ = false;
};

UploadOutcome Failure(int code, std::string message) {
    UploadOutcome out;
    out.result = code;
    out.message = std::move(message);
    return out;
}

UploadOutcome Aborted() {
    return Failure(kUploadAborted, {});
}

std::string WithReason(const std::string& text, const std::string& reason) {
    return reason.empty() ? text + "." : text + " (" + reason + ").";
}

// The outcome of an interrupted send of the request.
UploadOutcome SendFailure(Io io, const Connection& c) {
    switch (io) {
    case Io::Cancelled:
        return Aborted();
    case Io::TimedOut:
        return Failure(kUploadTimedOut, "The upload server stopped taking the picture.");
    default:
        return Failure(kUploadConnectionLost,
                       WithReason("The connection to the upload server was lost", c.Error()));
    }
}

} // namespace

std::vector<ResolvedAddress> SystemNameLookup(const std::string& host, uint16_t port,
                                              std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int r = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    std::vector<ResolvedAddress> out;
    if (r != 0) {
        error = r == EAI_SYSTEM ? ErrnoText(errno) : gai_strerror(r);
        return out;
    }
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
        ResolvedAddress ra;
        std::memcpy(&ra.address, a->ai_addr, a->ai_addrlen);
        ra.length = socklen_t(a->ai_addrlen);
        out.push_back(ra);
    }
    ::freeaddrinfo(found);
    if (out.empty()) error = "no address";
    return out;
}

UploadOutcome SendUpload(const UploadRequest& request, const UploadServer& server,
                         CUploadProgressManager& progress, const UploadOptions& options) {
    const UploadLimits& limits = options.limits;
    std::string lookupError;
    const std::vector<ResolvedAddress> addresses =
        options.lookup ? options.lookup(server.host, server.port, lookupError)
                       : SystemNameLookup(server.host, server.port, lookupError);
    if (!progress.GoOn()) return Aborted();
    if (addresses.empty())
        return Failure(
            kUploadHostNotFound,
            WithReason("The upload server \"" + server.host + "\" was not found", lookupError));

    Connection c(progress, limits);
    switch (c.Connect(addresses)) {
    case Io::Ok:
        break;
    case Io::Cancelled:
        return Aborted();
    case Io::TimedOut:
        return Failure(kUploadConnectFailed, "Unable to connect to the upload server " +
                                                 HostAndPort(server) + " (no answer in time).");
    default:
        if (c.SocketFailed())
            return Failure(kUploadNoSocket,
                           WithReason("Unable to open a network connection", c.Error()));
        return Failure(
            kUploadConnectFailed,
            WithReason("Unable to connect to the upload server " + HostAndPort(server), c.Error()));
    }
    if (server.tls) {
        switch (c.StartTls(server, options.extraTrustFile)) {
        case Io::Ok:
            break;
        case Io::Cancelled:
            return Aborted();
        case Io::TimedOut:
            return Failure(kUploadTimedOut, "The upload server " + HostAndPort(server) +
                                                " did not open a secure connection in time.");
        default:
            return Failure(kUploadSecureFailed,
                           WithReason("The secure connection to the upload server " +
                                          HostAndPort(server) + " failed",
                                      c.Error()));
        }
    }

    progress.SetProgress(0);
    for (const std::string& h : request.headers) {
        const Io io = c.SendAll(reinterpret_cast<const uint8_t*>(h.data()), h.size());
        if (io != Io::Ok) return SendFailure(io, c);
    }
    const uint8_t* file = request.file.data();
    const size_t n = request.file.size();
    if (n < kSingleSendLimit) {
        const Io io = c.SendAll(file, n);
        if (io != Io::Ok) return SendFailure(io, c);
        progress.SetProgress(100);
    } else {
        const size_t chunk = n / kUploadChunks;
        for (int i = 1; i <= kUploadChunks && progress.GoOn(); ++i) {
            const Io io = c.SendAll(file + size_t(i - 1) * chunk, chunk);
            if (io != Io::Ok) return SendFailure(io, c);
            progress.SetProgress(i);
        }
        if (progress.GoOn()) {
            const size_t sent = kUploadChunks * chunk;
            const Io io = c.SendAll(file + sent, n - sent);
            if (io != Io::Ok) return SendFailure(io, c);
            progress.SetProgress(100);
        }
    }
    if (!progress.GoOn()) return Aborted();
    {
        const Io io = c.SendAll(reinterpret_cast<const uint8_t*>(request.closing.data()),
                                request.closing.size());
        if (io != Io::Ok) return SendFailure(io, c);
    }
    if (!c.ShutdownSend())
        return Failure(kUploadConnectionLost,
                       WithReason("The connection to the upload server was lost", c.Error()));

    CUploadAnswer answer(limits.maxHeaderBytes, limits.maxAnswerBytes);
    const Clock::time_point deadline = Clock::now() + limits.answer;
    std::vector<char> buf(16384);
    while (!answer.Finished()) {
        size_t got = 0;
        switch (c.Receive(buf.data(), buf.size(), got, deadline)) {
        case Io::Ok:
            answer.Feed(std::string_view(buf.data(), got));
            break;
        case Io::Cancelled:
            return Aborted();
        case Io::TimedOut:
            return Failure(kUploadTimedOut,
                           answer.GetState() == CUploadAnswer::State::Header
                               ? "The upload server did not answer in time."
                               : "The upload server did not finish its answer in time.");
        default:
            // A closed connection, or one that failed, ends what we read.
            answer.Closed();
            break;
        }
    }
    switch (answer.GetState()) {
    case CUploadAnswer::State::Complete:
        break;
    case CUploadAnswer::State::NotAccepted: {
        const std::string status = answer.StatusLine();
        return Failure(kUploadNotAccepted,
                       status.empty() ? std::string("The upload server did not accept the picture.")
                                      : "The upload server did not accept the picture:\n" + status);
    }
    case CUploadAnswer::State::TooLarge:
        return Failure(kUploadAnswerTooLarge, "The upload server's answer is too large.");
    default:
        return Failure(kUploadAnswerMalformed, "The upload server's answer cannot be read.");
    }
    UploadOutcome out;
    out.result = kUploadOk;
    out.answer = RemoveCarriageReturns(answer.Body());
    progress.Finished();
    return out;
}

CUploadJob::CUploadJob(UploadRequest request, UploadServer server, UploadOptions options,
                       CUploadProgressManager& progress)
    : request_(std::move(request)), server_(std::move(server)), options_(std::move(options)),
      progress_(progress) {}

CUploadJob::~CUploadJob() {
    Wait();
}

void CUploadJob::Start() {
    if (worker_.joinable() || IsFinished()) return;
    worker_ = std::thread([this] {
        // Below normal priority, so that the window stays responsive while a
        // large picture goes out.
        const auto tid = id_t(::syscall(SYS_gettid));
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, tid);
        if (errno == 0) ::setpriority(PRIO_PROCESS, tid, std::min(nice + 5, 19));
        outcome_ = SendUpload(request_, server_, progress_, options_);
        finished_.store(true, std::memory_order_release);
    });
}

void CUploadJob::Wait() {
    if (worker_.joinable()) worker_.join();
}
