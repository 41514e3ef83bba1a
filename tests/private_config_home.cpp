// Linked into every widget test: before anything runs, the process gets a
// configuration folder of its own, so that QSettings("Quorvel", "Pellorin")
// and the other per-user files never touch the real user's settings, and test
// processes that CTest runs side by side never read each other's values (an
// update host one test sets must not start a check in another's main window).
// HOME moves there too: Qt's test mode keeps its settings under ~/.qttest,
// which would otherwise be one folder for every test process on the machine.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

struct PrivateConfigHome {
    std::string dir;
    pid_t owner = ::getpid();
    PrivateConfigHome() {
        std::string templ =
            (std::filesystem::temp_directory_path() / "pellorin-config-XXXXXX").string();
        if (::mkdtemp(templ.data())) {
            dir = templ;
            ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
            ::setenv("HOME", dir.c_str(), 1);
        }
    }
    ~PrivateConfigHome() {
        // A forked child that exits normally runs this too: only the process
        // that made the folder removes it.
        std::error_code ec;
        if (!dir.empty() && ::getpid() == owner) std::filesystem::remove_all(dir, ec);
    }
};

const PrivateConfigHome g_home;

} // namespace
