#pragma once
// A one-connection HTTP server on 127.0.0.1 that the upload tests start
// themselves, optionally over TLS with a certificate the test makes. It records
// the request bytes and answers with a scripted reply. Every wait in it is
// bounded, so a broken client cannot hang a test. Also: a name lookup that
// sends every host to the server, so no test ever asks the machine's resolver.

#include "upload/upload_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ServerScript {
    std::string response;            // written once the request is in
    bool closeAfterResponse = true;  // false: the connection stays open until the server goes
    bool stallUntilReleased = false; // read nothing until Release()
    int receiveBuffer = 0;           // SO_RCVBUF of the listening socket when > 0
    // The request ends at the client's end of sending; otherwise after its
    // declared length (TLS clients do not half-close).
    bool requestEndsAtEof = true;
    std::string certFile, keyFile; // TLS when set
};

// A server that answers with response and closes.
inline ServerScript Answering(std::string response) {
    ServerScript s;
    s.response = std::move(response);
    return s;
}

// The declared length and the bytes after the blank line, or -1 while the
// header is incomplete.
inline long long BodyLengthDeclared(const std::string& request) {
    const size_t end = request.find("\r\n\r\n");
    if (end == std::string::npos) return -1;
    const size_t cl = request.find("Content-Length: ");
    if (cl == std::string::npos || cl > end) return -1;
    return std::atoll(request.c_str() + cl + 16);
}

class CTestServer {
public:
    explicit CTestServer(ServerScript script) : script_(std::move(script)) {
        std::signal(SIGPIPE, SIG_IGN); // the server may write to a client that has gone
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (script_.receiveBuffer > 0)
            ::setsockopt(listen_, SOL_SOCKET, SO_RCVBUF, &script_.receiveBuffer,
                         sizeof script_.receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listen_, 4) != 0) {
            ADD_FAILURE() << "the test server cannot listen";
            return;
        }
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        if (!script_.certFile.empty()) {
            ctx_ = SSL_CTX_new(TLS_server_method());
            if (SSL_CTX_use_certificate_chain_file(ctx_, script_.certFile.c_str()) != 1 ||
                SSL_CTX_use_PrivateKey_file(ctx_, script_.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
                ADD_FAILURE() << "the test server cannot load its certificate";
        }
        thread_ = std::thread([this] { Run(); });
    }
    ~CTestServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (listen_ >= 0) ::close(listen_);
        if (ctx_) SSL_CTX_free(ctx_);
    }

    uint16_t Port() const { return port_; }
    void Release() { released_ = true; }
    // Waits until the server is done with its connection (or was stopped).
    bool WaitDone(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return done_cv_.wait_for(lock, timeout, [this] { return done_; });
    }
    std::string Request() {
        std::lock_guard lock(mutex_);
        return request_;
    }
    int Accepted() const { return accepted_; }
    bool SawEnd() const { return sawEnd_; }
    bool HandshakeFailed() const { return handshakeFailed_; }

private:
    bool Stopped() const { return stop_; }

    // Waits for fd to become readable in short slices; false when stopped.
    bool WaitReadable(int fd) {
        while (!Stopped()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) return true;
        }
        return false;
    }

    bool RequestComplete() {
        if (script_.requestEndsAtEof) return false;
        std::lock_guard lock(mutex_);
        const long long declared = BodyLengthDeclared(request_);
        if (declared < 0) return false;
        const size_t body = request_.size() - (request_.find("\r\n\r\n") + 4);
        return (long long)body >= declared + 2;
    }

    void Run() {
        Serve();
        std::lock_guard lock(mutex_);
        done_ = true;
        done_cv_.notify_all();
    }

    void Serve() {
        if (!WaitReadable(listen_)) return;
        const int fd = ::accept(listen_, nullptr, nullptr);
        if (fd < 0) return;
        ++accepted_;
        struct Closer {
            int fd;
            SSL* ssl = nullptr;
            ~Closer() {
                if (ssl) SSL_free(ssl);
                ::close(fd);
            }
        } closer{fd};
        timeval tv{5, 0}; // no blocking call below waits longer than this
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        SSL* ssl = nullptr;
        if (ctx_) {
            ssl = SSL_new(ctx_);
            closer.ssl = ssl;
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) != 1) {
                handshakeFailed_ = true;
                return;
            }
        }
        if (script_.stallUntilReleased)
            while (!released_ && !Stopped())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));

        char buf[65536];
        while (!RequestComplete()) {
            if ((!ssl || SSL_pending(ssl) == 0) && !WaitReadable(fd)) return;
            const int n =
                ssl ? SSL_read(ssl, buf, sizeof buf) : int(::recv(fd, buf, sizeof buf, 0));
            if (n <= 0) {
                sawEnd_ = true;
                break;
            }
            std::lock_guard lock(mutex_);
            request_.append(buf, size_t(n));
        }
        if (!script_.response.empty()) {
            const char* p = script_.response.data();
            size_t left = script_.response.size();
            while (left > 0) {
                const int n =
                    ssl ? SSL_write(ssl, p, int(left)) : int(::send(fd, p, left, MSG_NOSIGNAL));
                if (n <= 0) break;
                p += n;
                left -= size_t(n);
            }
        }
        if (!script_.closeAfterResponse)
            while (!Stopped()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (ssl) SSL_shutdown(ssl);
    }

    ServerScript script_;
    int listen_ = -1;
    uint16_t port_ = 0;
    SSL_CTX* ctx_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> released_{false};
    std::atomic<int> accepted_{0};
    std::atomic<bool> sawEnd_{false};
    std::atomic<bool> handshakeFailed_{false};
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::string request_;
};

inline ResolvedAddress Loopback(uint16_t port) {
    ResolvedAddress r;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    std::memcpy(&r.address, &a, sizeof a);
    r.length = sizeof a;
    return r;
}

// The names and ports the sender asked for.
struct LookupLog {
    std::mutex mutex;
    std::vector<std::pair<std::string, uint16_t>> asked;
};

// Every host is 127.0.0.1:port, whatever port the sender asks for.
inline NameLookup LoopbackLookup(uint16_t port, std::shared_ptr<LookupLog> log = nullptr) {
    return [port, log](const std::string& host, uint16_t asked, std::string&) {
        if (log) {
            std::lock_guard lock(log->mutex);
            log->asked.emplace_back(host, asked);
        }
        return std::vector<ResolvedAddress>{Loopback(port)};
    };
}

// A lookup that knows no host.
inline NameLookup NoHostLookup() {
    return [](const std::string&, uint16_t, std::string& error) {
        error = "Name or service not known";
        return std::vector<ResolvedAddress>{};
    };
}

// A test certificate authority and a server certificate it signed for
// "upload.test", made once per test program with the openssl command.
struct TestCertificates {
    std::string folder, caFile, certFile, keyFile;
    bool ok = false;

    static const TestCertificates& Get() {
        static TestCertificates c = Make();
        return c;
    }

private:
    static TestCertificates Make() {
        TestCertificates c;
        const auto dir = std::filesystem::temp_directory_path() /
                         ("pellorin-upload-certs-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        c.folder = dir.string();
        c.caFile = (dir / "ca.pem").string();
        c.certFile = (dir / "server.pem").string();
        c.keyFile = (dir / "server.key").string();
        const std::string d = "'" + c.folder + "'";
        const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        const std::string script =
            "cd " + d + " && " + "openssl req -x509 " + ec +
            "-keyout ca.key -out ca.pem -days 2 -subj '/CN=Pellorin Test CA' && " + "openssl req " +
            ec + "-keyout server.key -out server.csr -subj '/CN=upload.test' && " +
            "printf 'subjectAltName=DNS:upload.test\\nbasicConstraints=CA:FALSE\\n' > ext.cnf && " +
            "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
            "-out server.pem -days 2 -extfile ext.cnf";
        c.ok = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
        std::atexit([] {
            std::error_code e;
            std::filesystem::remove_all(std::filesystem::temp_directory_path() /
                                            ("pellorin-upload-certs-" + std::to_string(::getpid())),
                                        e);
        });
        return c;
    }
};
