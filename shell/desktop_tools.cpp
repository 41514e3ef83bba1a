#include "shell/desktop_tools.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

int RunDesktopTool(const std::vector<std::string>& argv, int timeoutMs) {
    if (argv.empty() || argv.front().empty()) return -1;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    for (int fd : {0, 1, 2})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1; // not installed, or not runnable

    int status = 0;
    for (int waited = 0;; waited += 10) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return -1;
        if (waited >= timeoutMs) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return -1;
        }
        const timespec tick{0, 10 * 1000 * 1000};
        ::nanosleep(&tick, nullptr);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void RefreshDesktopDatabase(const std::string& applicationsFolder) {
    if (applicationsFolder.empty()) return;
    RunDesktopTool({"update-desktop-database", "-q", applicationsFolder});
}
