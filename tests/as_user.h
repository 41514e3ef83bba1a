// Runs a piece of a test as an ordinary user. The superuser passes every
// permission check, so tests of what a user may and may not write would prove
// nothing when run as root (as CI runs them): the code runs in a forked child
// that first drops to the unprivileged user "nobody" (65534). Run by any other
// user, the child keeps that user.
#pragma once

#include <grp.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace as_user {

constexpr uid_t kNobody = 65534;

inline bool IsRoot() {
    return ::geteuid() == 0;
}

// Gives a file or folder to the user the child runs as (a no-op unless root).
inline bool GiveToUser(const std::string& path) {
    return !IsRoot() || ::lchown(path.c_str(), kNobody, kNobody) == 0;
}

// Runs fn in a child process as an ordinary user and returns what fn returned,
// or a text that starts with "child:" when the child could not run it.
inline std::string Run(const std::function<std::string()>& fn) {
    int fds[2];
    if (::pipe(fds) != 0) return "child: no pipe";
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return "child: fork failed";
    }
    if (pid == 0) {
        ::close(fds[0]);
        std::string out;
        if (IsRoot() && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 ||
                         ::setuid(kNobody) != 0 || ::geteuid() != kNobody))
            out = "child: cannot drop privileges";
        else
            out = fn();
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child: died";
    return out;
}

} // namespace as_user
