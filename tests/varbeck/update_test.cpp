// The update check through libvarbeck.so, as the program uses it: local files
// and a server that the test runs on 127.0.0.1. Each check is followed to its
// end through the done handler; the ask handler stands in for the user.

#include "local_server.h"
#include "recorder.h"
#include "varbeck/varbeck.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using varbeck_test::LocalServer;
using varbeck_test::Recorder;

extern "C" {
int32_t varbeck_c_client_start(const char* address);
int32_t varbeck_c_client_outcome(void);
const char* varbeck_c_client_opened(void);
int32_t varbeck_c_client_asked(void);
}

namespace {

constexpr float kRunning = 5.9f; // the program's own version
const char* const kQuestionTitle = "Varbeck";
const char* const kQuestionText = "New Version is available.\nDo you want to update?";
// A download address that is only ever handed to the open handler.
const char* const kDownload = "http://127.0.0.1:9/pellorin-setup.exe";

class UpdateCheck : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override {
        varbeck_test::KeepToLoopback();
        dir = fs::temp_directory_path() /
              ("varbeck-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string File(const std::string& name, const std::string& bytes) const {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }
    static std::string Info(const std::string& version, const std::string& address = kDownload) {
        return version + "\r\n" + address + "\r\n";
    }
    // Runs one check to its end and returns its outcome.
    static int32_t Check(Recorder& r, const std::string& address, float version = kRunning) {
        EXPECT_EQ(r.Start(address.c_str(), version), 1);
        return r.Next();
    }
};

std::string Hex(size_t n) {
    char text[24];
    std::snprintf(text, sizeof text, "%zx", n);
    return text;
}

// --- Local files --------------------------------------------------------------

TEST_F(UpdateCheck, LocalFileVersions) {
    const std::string same = File("same.info", Info("5.9"));
    const std::string newer = File("newer.info", Info("6.0"));
    const std::string older = File("older.info", Info("5.8"));
    {
        Recorder r;
        EXPECT_EQ(Check(r, same), VARBECK_UP_TO_DATE);
        EXPECT_EQ(Check(r, "file://" + same), VARBECK_UP_TO_DATE);
        // An older file offers no downgrade as "New Version".
        EXPECT_EQ(Check(r, older), VARBECK_UP_TO_DATE);
        EXPECT_EQ(Check(r, "file://" + older), VARBECK_UP_TO_DATE);
        EXPECT_EQ(r.Asked(), 0);
        EXPECT_TRUE(r.Opened().empty());
    }
    {
        Recorder r(true);
        EXPECT_EQ(Check(r, newer), VARBECK_ACCEPTED);
        EXPECT_EQ(Check(r, "file://" + newer), VARBECK_ACCEPTED);
        EXPECT_EQ(Check(r, "FILE://localhost" + newer), VARBECK_ACCEPTED);
        ASSERT_EQ(r.Asked(), 3);
        for (const auto& [title, text] : r.Questions()) {
            EXPECT_EQ(title, kQuestionTitle);
            EXPECT_EQ(text, kQuestionText);
        }
        EXPECT_EQ(r.Opened(), std::vector<std::string>(3, kDownload));
    }
    {
        Recorder r(false);
        EXPECT_EQ(Check(r, newer), VARBECK_DECLINED);
        EXPECT_EQ(r.Asked(), 1);
        EXPECT_TRUE(r.Opened().empty()) << "No opens nothing";
    }
}

TEST_F(UpdateCheck, VersionLineReadsItsLeadingNumber) {
    Recorder r;
    // Compared as 32-bit numbers: 5.9000001 is the same float as 5.9, the
    // next representable one above it is newer.
    EXPECT_EQ(Check(r, File("a", Info("5.90"))), VARBECK_UP_TO_DATE);
    EXPECT_EQ(Check(r, File("b", Info("5.9000001"))), VARBECK_UP_TO_DATE);
    EXPECT_EQ(Check(r, File("c", Info("5.9000005"))), VARBECK_ACCEPTED);
    EXPECT_EQ(Check(r, File("d", Info("6.0 beta"))), VARBECK_ACCEPTED);
    EXPECT_EQ(Check(r, File("e", Info("  \t7"))), VARBECK_ACCEPTED);
    EXPECT_EQ(Check(r, File("f", Info("59e-1"))), VARBECK_UP_TO_DATE);
    EXPECT_EQ(Check(r, File("g", Info("version 7"))), VARBECK_UP_TO_DATE) << "no leading number";
    EXPECT_EQ(Check(r, File("h", Info("-7"))), VARBECK_UP_TO_DATE);
    EXPECT_EQ(Check(r, File("i", Info("nan"))), VARBECK_UP_TO_DATE);
    EXPECT_EQ(Check(r, File("j", Info(""))), VARBECK_UP_TO_DATE);
    EXPECT_EQ(Check(r, File("k", "")), VARBECK_UP_TO_DATE) << "an empty file";
    EXPECT_EQ(r.Asked(), 3);
}

TEST_F(UpdateCheck, AddressLineAndLineEnds) {
    Recorder r;
    // CR, LF and any run of them end a line; blank lines before the address
    // are skipped; what follows the address is ignored.
    Check(r, File("crlf", "6\r\nhttp://127.0.0.1:9/a\r\nignored\r\n"));
    Check(r, File("cr", "6\rhttp://127.0.0.1:9/b\rignored"));
    Check(r, File("lf", "6\nhttp://127.0.0.1:9/c"));
    Check(r, File("runs", "6\r\r\n\n\r\n  http://127.0.0.1:9/d e \n\n"));
    Check(r, File("zero", std::string("6\0http://127.0.0.1:9/f", 22)));
    EXPECT_EQ(r.Opened(),
              (std::vector<std::string>{"http://127.0.0.1:9/a", "http://127.0.0.1:9/b",
                                        "http://127.0.0.1:9/c", "  http://127.0.0.1:9/d e ",
                                        "http://127.0.0.1:9/f"}));
}

TEST_F(UpdateCheck, NewerFileWithoutAddressAsksNothing) {
    Recorder r;
    EXPECT_EQ(Check(r, File("a", "6.0")), VARBECK_NO_ADDRESS);
    EXPECT_EQ(Check(r, File("b", "6.0\r\n")), VARBECK_NO_ADDRESS);
    EXPECT_EQ(Check(r, File("c", "6.0\r\n\r\n\n\r")), VARBECK_NO_ADDRESS);
    EXPECT_EQ(r.Asked(), 0);
    EXPECT_TRUE(r.Opened().empty());
}

TEST_F(UpdateCheck, LocalFilesThatCannotBeRead) {
    Recorder r;
    EXPECT_EQ(Check(r, (dir / "missing.info").string()), VARBECK_FETCH_FAILED);
    EXPECT_EQ(Check(r, dir.string()), VARBECK_FETCH_FAILED) << "a folder";
    // A pipe nobody writes to must not hold the check for ever.
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Check(r, fifo.string()), VARBECK_FETCH_FAILED);
    // Only files of this machine.
    const std::string newer = File("newer.info", Info("6.0"));
    EXPECT_EQ(Check(r, "file://elsewhere" + newer), VARBECK_BAD_ADDRESS);
    EXPECT_EQ(r.Asked(), 0);
}

TEST_F(UpdateCheck, FileAddressEscapesAreDecoded) {
    Recorder r;
    const std::string path = File("with space%.info", Info("6.0"));
    std::string escaped;
    for (char c : path) escaped += c == ' ' ? "%20" : c == '%' ? "%25" : std::string(1, c);
    EXPECT_EQ(Check(r, "file://" + escaped), VARBECK_ACCEPTED);
    EXPECT_EQ(Check(r, path), VARBECK_ACCEPTED) << "a plain path is taken as it is";
}

TEST_F(UpdateCheck, LocalFileSizeIsBounded) {
    Recorder r;
    std::string body = Info("6.0");
    body.resize(VARBECK_MAX_FILE_SIZE, ' ');
    EXPECT_EQ(Check(r, File("limit", body)), VARBECK_ACCEPTED);
    EXPECT_EQ(Check(r, File("over", body + " ")), VARBECK_TOO_LARGE);
    EXPECT_EQ(r.Asked(), 1);
}

TEST_F(UpdateCheck, AddressLength) {
    // A path of exactly the longest accepted length, in folders of at most 200
    // characters each, and one character more.
    std::string longDir = dir.string();
    const std::string name = "/x.info";
    while (longDir.size() + name.size() < VARBECK_MAX_ADDRESS) {
        const size_t room = VARBECK_MAX_ADDRESS - name.size() - longDir.size() - 1;
        longDir += "/" + std::string(std::min<size_t>(room, 200), 'd');
    }
    ASSERT_EQ(longDir.size() + name.size(), size_t(VARBECK_MAX_ADDRESS));
    fs::create_directories(longDir);
    std::ofstream(longDir + name, std::ios::binary) << Info("6.0");
    std::ofstream(longDir + "/" + name.substr(1) + "x", std::ios::binary) << Info("6.0");

    Recorder r;
    EXPECT_EQ(Check(r, longDir + name), VARBECK_ACCEPTED);
    EXPECT_EQ(Check(r, longDir + name + "x"), VARBECK_BAD_ADDRESS);
    EXPECT_EQ(Check(r, ""), VARBECK_BAD_ADDRESS);
    EXPECT_EQ(Update(nullptr, kRunning), 0);
}

TEST_F(UpdateCheck, WithoutAskHandlerNothingIsAsked) {
    const std::string newer = File("newer.info", Info("6.0"));
    Recorder r;
    VarbeckSetHandlers(nullptr, nullptr, nullptr);
    EXPECT_EQ(Check(r, newer), VARBECK_NOT_ASKED);
}

TEST_F(UpdateCheck, PlainCClient) {
    const std::string newer = File("newer.info", Info("6.0"));
    ASSERT_EQ(varbeck_c_client_start(newer.c_str()), 1);
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (varbeck_c_client_outcome() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(varbeck_c_client_outcome(), VARBECK_ACCEPTED);
    EXPECT_EQ(varbeck_c_client_asked(), 1);
    EXPECT_STREQ(varbeck_c_client_opened(), kDownload);
    VarbeckSetHandlers(nullptr, nullptr, nullptr);
    VarbeckSetDoneHandler(nullptr, nullptr);
}

// --- Over HTTP ----------------------------------------------------------------

TEST_F(UpdateCheck, HttpVersions) {
    std::string served;
    LocalServer server([&](LocalServer::Connection& c) {
        c.Send(LocalServer::Answer(c.Path() == "/same.info"    ? Info("5.9")
                                   : c.Path() == "/newer.info" ? Info("6.1")
                                   : c.Path() == "/older.info" ? Info("5.0")
                                                               : "6.1\r\n"));
    });
    Recorder r;
    EXPECT_EQ(Check(r, server.Url("/same.info")), VARBECK_UP_TO_DATE);
    EXPECT_EQ(Check(r, server.Url("/older.info")), VARBECK_UP_TO_DATE);
    EXPECT_EQ(Check(r, server.Url("/one-line.info")), VARBECK_NO_ADDRESS);
    EXPECT_EQ(r.Asked(), 0);
    EXPECT_EQ(Check(r, server.Url("/newer.info")), VARBECK_ACCEPTED);
    EXPECT_EQ(r.Asked(), 1);
    EXPECT_EQ(r.Opened(), std::vector<std::string>{kDownload});
}

TEST_F(UpdateCheck, HttpRequestAsksForAFreshCopy) {
    LocalServer server(
        [](LocalServer::Connection& c) { c.Send(LocalServer::Answer(Info("5.9"))); });
    Recorder r;
    EXPECT_EQ(Check(r, server.Url("/updates/pellorin.info")), VARBECK_UP_TO_DATE);
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string request = server.Requests()[0];
    EXPECT_EQ(request.rfind("GET /updates/pellorin.info HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("\r\nUser-Agent: Varbeck\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nCache-Control: no-cache\r\n"), std::string::npos) << request;
}

TEST_F(UpdateCheck, HttpAnswersWithoutAUsableLength) {
    LocalServer server([](LocalServer::Connection& c) {
        const std::string body = Info("6.0");
        if (c.Path() == "/none") // ends with the connection
            c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body);
        else if (c.Path() == "/chunked")
            c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + Hex(body.size()) +
                   "\r\n" + body + "\r\n0\r\n\r\n");
        else if (c.Path() == "/zero")
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        else if (c.Path() == "/negative")
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: -1\r\nConnection: close\r\n\r\n" + body);
        else if (c.Path() == "/text")
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: many\r\nConnection: close\r\n\r\n" + body);
    });
    Recorder r;
    for (const char* path : {"/none", "/chunked", "/zero", "/negative", "/text"})
        EXPECT_EQ(Check(r, server.Url(path)), VARBECK_FETCH_FAILED) << path;
    EXPECT_EQ(r.Asked(), 0);
}

TEST_F(UpdateCheck, HttpErrorPagesAreNotTheFile) {
    LocalServer server([](LocalServer::Connection& c) {
        c.Send(LocalServer::Answer(Info("7.0"), "", "404 Not Found"));
    });
    Recorder r;
    EXPECT_EQ(Check(r, server.Url("/updates/pellorin.info")), VARBECK_FETCH_FAILED);
    EXPECT_EQ(r.Asked(), 0);
}

TEST_F(UpdateCheck, HttpRedirectIsFollowed) {
    LocalServer server([](LocalServer::Connection& c) {
        if (c.Path() == "/moved")
            c.Send(LocalServer::Answer("gone", "Location: /real\r\n", "302 Found"));
        else
            c.Send(LocalServer::Answer(Info("6.0")));
    });
    Recorder r;
    EXPECT_EQ(Check(r, server.Url("/moved")), VARBECK_ACCEPTED);
    EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(UpdateCheck, HttpLengthIsBounded) {
    std::string big = Info("6.0");
    big.resize(VARBECK_MAX_FILE_SIZE, ' ');
    LocalServer server([&](LocalServer::Connection& c) {
        if (c.Path() == "/limit") {
            c.Send(LocalServer::Answer(big));
        } else if (c.Path() == "/over") {
            c.Send(LocalServer::Answer(big + " "));
        } else if (c.Path() == "/wide") {
            // More digits than a length can have.
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000000000000000000\r\n\r\n");
            c.Hold();
        }
    });
    Recorder r;
    EXPECT_EQ(Check(r, server.Url("/limit")), VARBECK_ACCEPTED);
    EXPECT_EQ(Check(r, server.Url("/over")), VARBECK_TOO_LARGE);
    EXPECT_EQ(Check(r, server.Url("/wide")), VARBECK_FETCH_FAILED);
    EXPECT_EQ(r.Asked(), 1);
}

// A server announcing 2 GB is refused as soon as its headers end: the body
// never arrives, nothing is allocated for it, and the check does not wait for
// the time limit. The child process runs under an address-space limit far
// below 2 GB, so an attempt to allocate the announced size would fail there
// and end the check with another outcome.
TEST_F(UpdateCheck, HttpTwoGigabyteLengthIsRefusedWithoutAllocating) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            LocalServer server([](LocalServer::Connection& c) {
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n");
                c.Hold();
            });
            rlimit limit{};
            ::getrlimit(RLIMIT_AS, &limit);
            std::ifstream status("/proc/self/status");
            size_t usedKb = 0;
            for (std::string line; std::getline(status, line);)
                if (line.rfind("VmSize:", 0) == 0) usedKb = std::stoul(line.substr(7));
            limit.rlim_cur = rlim_t(usedKb) * 1024 + (512u << 20);
            if (::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
            int32_t outcome = -1;
            const auto start = std::chrono::steady_clock::now();
            {
                Recorder r;
                VarbeckSetTimeLimit(30000);
                if (r.Start(server.Url("/big").c_str(), kRunning) != 1) std::_Exit(4);
                outcome = r.Next(40s);
                if (r.Asked() != 0) std::_Exit(5);
            }
            const auto took = std::chrono::steady_clock::now() - start;
            fs::remove_all(dir); // the child's own folder; its TearDown never runs
            if (took > 10s) std::_Exit(6);
            std::_Exit(outcome == VARBECK_TOO_LARGE ? 0 : 10 + outcome);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(UpdateCheck, HttpBodyBeyondTheAnnouncedLengthIsNotRead) {
    LocalServer server([](LocalServer::Connection& c) {
        const std::string body = Info("6.0");
        if (c.Path() == "/short-claim") {
            // The address line lies beyond the announced four bytes.
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\n" + body);
        } else if (c.Path() == "/flood") {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\nConnection: close\r\n\r\n" + body);
            const std::string junk(1 << 16, 'j');
            for (int i = 0; i < 256 && c.Send(junk); ++i) {
            }
        }
    });
    Recorder r;
    EXPECT_EQ(Check(r, server.Url("/short-claim")), VARBECK_NO_ADDRESS);
    EXPECT_EQ(Check(r, server.Url("/flood")), VARBECK_ACCEPTED);
    EXPECT_EQ(r.Opened(), std::vector<std::string>{kDownload});
}

TEST_F(UpdateCheck, HttpBodyCutShortIsNotTheFile) {
    LocalServer server([](LocalServer::Connection& c) {
        // Announces more than it sends: the address line may be cut.
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n6.0\r\nhttp://127.0.0.1:9/pel");
    });
    Recorder r;
    EXPECT_EQ(Check(r, server.Url("/cut")), VARBECK_FETCH_FAILED);
    EXPECT_EQ(r.Asked(), 0);
}

TEST_F(UpdateCheck, SilentServersCannotHoldTheCheck) {
    LocalServer server([](LocalServer::Connection& c) {
        if (c.Path() == "/trickle") // headers and part of the body, then nothing
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n6.0\r\n");
        else if (c.Path() == "/half-head")
            c.Send("HTTP/1.1 200 OK\r\nContent-Le");
        c.Hold();
    });
    Recorder r;
    VarbeckSetTimeLimit(1000);
    for (const char* path : {"/silent", "/trickle", "/half-head"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Check(r, server.Url(path)), VARBECK_FETCH_FAILED) << path;
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, 900ms) << path;
        EXPECT_LT(took, 10s) << path;
    }
    EXPECT_EQ(r.Asked(), 0);
}

TEST_F(UpdateCheck, HttpGoesThroughTheProxyOfTheEnvironment) {
    // The proxy is a server of the test too; the address it is asked for is
    // never contacted.
    LocalServer proxy([](LocalServer::Connection& c) { c.Send(LocalServer::Answer(Info("6.0"))); });
    ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.Port())).c_str(), 1);
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
    int32_t outcome = -1;
    {
        Recorder r;
        outcome = Check(r, "http://127.0.0.1:9/updates/pellorin.info");
    }
    varbeck_test::KeepToLoopback();
    EXPECT_EQ(outcome, VARBECK_ACCEPTED);
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(
        proxy.Requests()[0].rfind("GET http://127.0.0.1:9/updates/pellorin.info HTTP/1.1\r\n", 0),
        0u)
        << proxy.Requests()[0];
}

TEST_F(UpdateCheck, UnreachableServerIsSilent) {
    int port = 0;
    {
        LocalServer closed([](LocalServer::Connection&) {});
        port = closed.Port();
    } // nothing listens there any more
    Recorder r;
    EXPECT_EQ(Check(r, "http://127.0.0.1:" + std::to_string(port) + "/updates/pellorin.info"),
              VARBECK_FETCH_FAILED);
    EXPECT_EQ(Check(r, "http://"), VARBECK_BAD_ADDRESS);
    EXPECT_EQ(r.Asked(), 0);
}

// --- The caller's string and concurrent checks --------------------------------

TEST_F(UpdateCheck, AddressIsCopied) {
    LocalServer server([](LocalServer::Connection& c) {
        c.Send(c.Path() == "/updates/pellorin.info" ? LocalServer::Answer(Info("6.0"))
                                                    : LocalServer::Answer("", "", "404 Not Found"));
    });
    Recorder r;
    for (int i = 0; i < 20; ++i) {
        const std::string address = server.Url("/updates/pellorin.info");
        char* buffer = new char[address.size() + 1];
        std::memcpy(buffer, address.c_str(), address.size() + 1);
        ASSERT_EQ(r.Start(buffer, kRunning), 1);
        // The caller reuses and frees its buffer at once.
        std::string other = server.Url("/elsewhere.txt");
        other.resize(address.size(), 'x');
        std::memcpy(buffer, other.c_str(), address.size());
        delete[] buffer;
        EXPECT_EQ(r.Next(), VARBECK_ACCEPTED) << "round " << i;
    }
    for (const std::string& request : server.Requests())
        EXPECT_EQ(request.rfind("GET /updates/pellorin.info ", 0), 0u) << request;
}

TEST_F(UpdateCheck, ChecksRunningTogetherKeepTheirOwnValues) {
    const std::string newer = File("newer.info", Info("6.0"));
    const std::string same = File("same.info", Info("7.0"));
    Recorder r;
    ASSERT_EQ(r.Start(newer.c_str(), kRunning), 1);
    ASSERT_EQ(r.Start(same.c_str(), 7.0f), 1);
    ASSERT_EQ(r.Start(newer.c_str(), 6.0f), 1);
    std::multiset<int32_t> outcomes;
    for (int i = 0; i < 3; ++i) outcomes.insert(r.Next());
    EXPECT_EQ(outcomes,
              (std::multiset<int32_t>{VARBECK_ACCEPTED, VARBECK_UP_TO_DATE, VARBECK_UP_TO_DATE}));
}

} // namespace
