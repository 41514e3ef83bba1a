// A tiny HTTP server on 127.0.0.1 for the update-check tests. It listens on an
// ephemeral port, serves one connection at a time on its own thread and lets
// each test script the answer byte for byte: send some bytes, close, or keep
// the connection open until the client gives up.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace varbeck_test {

// Requests to 127.0.0.1 must never be sent to a proxy of the environment.
inline void KeepToLoopback() {
    for (const char* v :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        ::unsetenv(v);
    ::setenv("no_proxy", "*", 1);
    ::setenv("NO_PROXY", "*", 1);
}

class LocalServer {
public:
    // One accepted connection, seen by the handler.
    class Connection {
    public:
        const std::string& Request() const { return m_request; }
        // The request line's path ("/updates/pellorin.info").
        std::string Path() const {
            const size_t a = m_request.find(' ');
            const size_t b = m_request.find(' ', a + 1);
            return a == std::string::npos || b == std::string::npos
                       ? std::string()
                       : m_request.substr(a + 1, b - a - 1);
        }
        // Sends all bytes; false when the client went away.
        bool Send(std::string_view bytes) {
            while (!bytes.empty()) {
                const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
                if (n <= 0) return false;
                bytes.remove_prefix(size_t(n));
            }
            return true;
        }
        // Keeps the connection open, answering nothing more, until the client
        // closes it or the server stops.
        void Hold() {
            char sink[4096];
            for (;;) {
                pollfd p[2] = {{m_fd, POLLIN, 0}, {m_stop, POLLIN, 0}};
                if (::poll(p, 2, -1) < 0) return;
                if (p[1].revents) return;
                if (p[0].revents && ::recv(m_fd, sink, sizeof sink, 0) <= 0) return;
            }
        }

    private:
        friend class LocalServer;
        int m_fd = -1;
        int m_stop = -1;
        std::string m_request;
    };
    using Handler = std::function<void(Connection&)>;

    explicit LocalServer(Handler handler) : m_handler(std::move(handler)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t len = sizeof a;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listen, 16) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
            ::pipe2(m_stopPipe, O_CLOEXEC) != 0)
            std::abort();
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~LocalServer() {
        const char c = 0;
        (void)!::write(m_stopPipe[1], &c, 1);
        m_thread.join();
        ::close(m_listen);
        ::close(m_stopPipe[0]);
        ::close(m_stopPipe[1]);
    }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    int Port() const { return m_port; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    std::vector<std::string> Requests() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

    // A complete answer with the given status line, extra headers and body.
    static std::string Answer(std::string_view body, std::string_view headers = "",
                              std::string_view status = "200 OK") {
        return "HTTP/1.1 " + std::string(status) +
               "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
               std::string(headers) + "Connection: close\r\n\r\n" + std::string(body);
    }

private:
    void Serve() {
        for (;;) {
            pollfd p[2] = {{m_listen, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 || p[1].revents) return;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            Connection c;
            c.m_fd = fd;
            c.m_stop = m_stopPipe[0];
            if (ReadHead(c)) {
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_requests.push_back(c.m_request);
                }
                m_handler(c);
            }
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
        }
    }
    // Reads up to the blank line that ends the request head.
    bool ReadHead(Connection& c) {
        char buf[1024];
        while (c.m_request.find("\r\n\r\n") == std::string::npos && c.m_request.size() < 65536) {
            pollfd p[2] = {{c.m_fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
            if (::poll(p, 2, 10000) <= 0 || p[1].revents) return false;
            const ssize_t n = ::recv(c.m_fd, buf, sizeof buf, 0);
            if (n <= 0) return false;
            c.m_request.append(buf, size_t(n));
        }
        return true;
    }

    Handler m_handler;
    int m_listen = -1;
    int m_stopPipe[2] = {-1, -1};
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
};

} // namespace varbeck_test
