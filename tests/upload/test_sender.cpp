// The sender against servers this test starts on 127.0.0.1: the exact bytes,
// the progress of small and chunked files, the answers that count as success,
// Cancel, refused connections, unknown hosts, time limits and TLS.

#include "tests/upload/test_server.h"
#include "upload/upload_request.h"
#include "upload/upload_sender.h"
#include "upload/upload_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

class Progress : public CUploadProgressManager {
public:
    void SetProgress(int p) override {
        std::lock_guard lock(mutex_);
        values_.push_back(p);
    }
    void Finished() override { ++finished; }
    bool GoOn() override { return !stop; }
    std::vector<int> Values() {
        std::lock_guard lock(mutex_);
        return values_;
    }
    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};

private:
    std::mutex mutex_;
    std::vector<int> values_;
};

UploadOptions Options(uint16_t port, std::shared_ptr<LookupLog> log = nullptr) {
    UploadOptions o;
    o.lookup = LoopbackLookup(port, std::move(log));
    o.limits.connect = 5s;
    o.limits.idle = 5s;
    o.limits.answer = 10s;
    return o;
}

UploadServer Server(const std::string& setting) {
    auto s = ParseUploadServer(setting);
    EXPECT_TRUE(s) << setting;
    return s.value_or(UploadServer{});
}

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t((i * 131 + i / 251) & 0xFF);
    return v;
}

std::string FileBytesOf(const std::string& request) {
    const std::string marker = "Content-Type: image/png\r\n\r\n";
    const size_t start = request.find(marker);
    const std::string closing = "\r\n--1992308652479883908774655630--\r\n\r\n";
    if (start == std::string::npos || request.size() < start + marker.size() + closing.size())
        return {};
    return request.substr(start + marker.size(),
                          request.size() - start - marker.size() - closing.size());
}

const std::string kPage = "<html><body>\n"
                          "<a href=\"http://pics.test/images/abc.png\"><img src=\"t.png\"></a>\n"
                          "<a href=\"http://pics.test/albums/me\">album</a>\n"
                          "</body></html>\n";

} // namespace

TEST(UploadSender, SendsTheExactRequestBytes) {
    // A picture with every kind of byte that could upset a text-minded sender.
    std::vector<uint8_t> picture = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0x0D};
    for (int i = 0; i < 52; ++i) picture.push_back(uint8_t(255 - i * 5));
    ASSERT_EQ(picture.size(), 64u);

    CTestServer server(Answering("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + kPage));
    auto log = std::make_shared<LookupLog>();
    Progress progress;
    const UploadOutcome out =
        SendUpload(BuildUploadRequest("upload.test", "a b&c", "me@example.org",
                                      int(UploadFormat::Png), picture),
                   Server("upload.test"), progress, Options(server.Port(), log));
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(out.result, kUploadOk) << out.message;

    const std::string b = "1992308652479883908774655630";
    const std::string descPart = "\r\n\r\n--" + b +
                                 "\r\nContent-Disposition: form-data; name=\"desc\"\r\n\r\n"
                                 "a%20b%26c\r\n--" +
                                 b + "\r\n";
    const std::string emailPart = "Content-Disposition: form-data; name=\"email\"\r\n\r\n"
                                  "me@example.org\r\n--" +
                                  b + "\r\n";
    const std::string fileHeader =
        "Content-Disposition: form-data; name=\"userfile\"; filename=\"ru-select.png\"\r\n";
    const std::string typeLine = "Content-Type: image/png\r\n\r\n";
    // Counted by hand from the parts above for a 64-byte picture.
    const size_t length = descPart.size() + emailPart.size() + fileHeader.size() + typeLine.size() +
                          picture.size() + 34;
    EXPECT_EQ(length, 422u);
    const std::string expected =
        "POST /upload.php HTTP/1.1\r\n"
        "Host: upload.test\r\n"
        "User-Agent: Mozilla/5.0 (X11; U; Linux i686; ru; rv:1.9.2.3) Gecko/20100423 "
        "Ubuntu/10.04 (lucid) Firefox/3.6.3\r\n"
        "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,* /*;q=0.8\r\n"
        "Accept-Language: ru,en-us;q=0.7,en;q=0.3\r\n"
        "Accept-Encoding: gzip,deflate\r\n"
        "Accept-Charset: windows-1251,utf-8;q=0.7,*;q=0.7\r\n"
        "Keep-Alive: 115\r\n"
        "Connection: keep-alive\r\n"
        "Content-Type: multipart/form-data; boundary=" +
        b +
        "\r\n"
        "Content-Length: 422\r\n" +
        descPart + emailPart + fileHeader + typeLine + std::string(picture.begin(), picture.end()) +
        "\r\n--" + b + "--\r\n\r\n";
    EXPECT_EQ(server.Request(), expected);
    EXPECT_TRUE(server.SawEnd()) << "the sending side was not shut down";
    EXPECT_EQ(out.answer, kPage);
    EXPECT_EQ(progress.Values(), (std::vector<int>{0, 100}));
    EXPECT_EQ(progress.finished, 1);
    ASSERT_EQ(log->asked.size(), 1u);
    EXPECT_EQ(log->asked[0], std::make_pair(std::string("upload.test"), uint16_t(80)));
}

TEST(UploadSender, SmallFilesGoInOneSendLargerOnesInChunks) {
    std::vector<int> chunked{0};
    for (int i = 1; i <= 100; ++i) chunked.push_back(i);
    for (size_t n : {size_t(81919), size_t(81920), size_t(8388608)}) {
        SCOPED_TRACE(n);
        CTestServer server(Answering("HTTP/1.1 200 OK\r\n\r\nok"));
        Progress progress;
        const std::vector<uint8_t> file = Pattern(n);
        const UploadOutcome out =
            SendUpload(BuildUploadRequest("upload.test", "", "", int(UploadFormat::Png), file),
                       Server("upload.test"), progress, Options(server.Port()));
        ASSERT_TRUE(server.WaitDone());
        EXPECT_EQ(out.result, kUploadOk) << out.message;
        EXPECT_EQ(out.answer, "ok");
        EXPECT_EQ(progress.Values(), (n < 81920 ? std::vector<int>{0, 100} : chunked));
        const std::string got = FileBytesOf(server.Request());
        EXPECT_EQ(got.size(), n);
        EXPECT_TRUE(got == std::string(file.begin(), file.end()));
    }
}

TEST(UploadSender, WhatCountsAsAcceptedAndWhatNot) {
    {
        // "200" only inside another header's value.
        CTestServer server(Answering("HTTP/1.1 302 Found\r\nX-Upload-Id: 7200\r\n\r\n" + kPage));
        Progress progress;
        const UploadOutcome out =
            SendUpload(BuildUploadRequest("upload.test", "", "", 5, {1}), Server("upload.test"),
                       progress, Options(server.Port()));
        EXPECT_EQ(out.result, kUploadOk) << out.message;
        EXPECT_EQ(out.answer, kPage);
    }
    {
        CTestServer server(Answering("HTTP/1.1 403 Forbidden\r\nServer: t\r\n\r\n<p>200</p>"));
        Progress progress;
        const UploadOutcome out =
            SendUpload(BuildUploadRequest("upload.test", "", "", 5, {1}), Server("upload.test"),
                       progress, Options(server.Port()));
        EXPECT_EQ(out.result, kUploadNotAccepted);
        EXPECT_NE(out.message.find("HTTP/1.1 403 Forbidden"), std::string::npos) << out.message;
        EXPECT_EQ(progress.finished, 0);
    }
    {
        // Carriage returns leave the answer; the body is what the page shows.
        CTestServer server(Answering("HTTP/1.0 200 OK\r\n\r\n<p>\r\nline</p>\r\n"));
        Progress progress;
        const UploadOutcome out =
            SendUpload(BuildUploadRequest("upload.test", "", "", 5, {1}), Server("upload.test"),
                       progress, Options(server.Port()));
        EXPECT_EQ(out.result, kUploadOk);
        EXPECT_EQ(out.answer, "<p>\nline</p>\n");
    }
}

TEST(UploadSender, CancelStopsTheWorkerAndClosesTheConnection) {
    // The server takes nothing until released, with a small window, so the
    // sender is left waiting in the middle of the picture.
    ServerScript script;
    script.stallUntilReleased = true;
    script.receiveBuffer = 4096;
    CTestServer server(script);
    Progress progress;
    const std::vector<uint8_t> file = Pattern(size_t(kMaxUploadBytes));
    const UploadRequest request = BuildUploadRequest("upload.test", "", "", 5, file);
    const uint64_t total = request.TotalBytes();
    CUploadJob job(request, Server("upload.test"), Options(server.Port()), progress);
    job.Start();
    // Wait until it is connected and then stuck.
    for (int i = 0; i < 500 && progress.Values().empty(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_FALSE(progress.Values().empty());
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(job.IsFinished());
    const auto before = std::chrono::steady_clock::now();
    progress.stop = true;
    job.Wait();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_EQ(job.Outcome().result, kUploadAborted);
    EXPECT_LT(progress.Values().back(), 100);
    EXPECT_EQ(progress.finished, 0);
    // The server now reads what was sent and finds the connection closed.
    server.Release();
    ASSERT_TRUE(server.WaitDone());
    EXPECT_TRUE(server.SawEnd());
    EXPECT_LT(server.Request().size(), total);
}

TEST(UploadSender, RefusedConnectionAndUnknownHostSayWhy) {
    {
        // A bound port with no listener refuses; it stays bound so nothing else
        // can take it meanwhile.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        Progress progress;
        const UploadOutcome out =
            SendUpload(BuildUploadRequest("upload.test", "", "", 5, {1}), Server("upload.test"),
                       progress, Options(ntohs(a.sin_port)));
        ::close(fd);
        EXPECT_EQ(out.result, kUploadConnectFailed);
        EXPECT_NE(out.message.find("upload.test"), std::string::npos) << out.message;
        EXPECT_NE(out.message.find("Connection refused"), std::string::npos) << out.message;
        EXPECT_TRUE(progress.Values().empty());
    }
    {
        Progress progress;
        UploadOptions options;
        options.lookup = NoHostLookup();
        const UploadOutcome out = SendUpload(BuildUploadRequest("nowhere.test", "", "", 5, {1}),
                                             Server("nowhere.test"), progress, options);
        EXPECT_EQ(out.result, kUploadHostNotFound);
        EXPECT_EQ(out.message,
                  "The upload server \"nowhere.test\" was not found (Name or service not known).");
    }
}

TEST(UploadSender, AnswersThatNeverEndCannotHangTheUpload) {
    struct Case {
        const char* name;
        std::string response;
        int result;
    };
    const Case cases[] = {
        {"header without end", "HTTP/1.1 200 OK\r\nX-Slow: yes\r\n", kUploadTimedOut},
        {"body never closed", "HTTP/1.1 200 OK\r\n\r\n<html>half a page", kUploadTimedOut},
        {"chunked, last chunk missing",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n", kUploadTimedOut},
        {"header without bound", "HTTP/1.1 200 OK\r\n" + std::string(70000, 'x'),
         kUploadAnswerTooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServerScript script;
        script.response = c.response;
        script.closeAfterResponse = false;
        CTestServer server(script);
        Progress progress;
        UploadOptions options = Options(server.Port());
        options.limits.idle = 300ms;
        options.limits.answer = 800ms;
        const auto start = std::chrono::steady_clock::now();
        const UploadOutcome out = SendUpload(BuildUploadRequest("upload.test", "", "", 5, {1}),
                                             Server("upload.test"), progress, options);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
        EXPECT_EQ(out.result, c.result) << out.message;
        EXPECT_FALSE(out.message.empty());
    }
    {
        // A host that keeps the connection open after an answer of known
        // length is not waited for.
        ServerScript script;
        script.response = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kPage.size()) +
                          "\r\nConnection: keep-alive\r\n\r\n" + kPage;
        script.closeAfterResponse = false;
        CTestServer server(script);
        Progress progress;
        const auto start = std::chrono::steady_clock::now();
        const UploadOutcome out =
            SendUpload(BuildUploadRequest("upload.test", "", "", 5, {1}), Server("upload.test"),
                       progress, Options(server.Port()));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
        EXPECT_EQ(out.result, kUploadOk) << out.message;
        EXPECT_EQ(out.answer, kPage);
    }
}

TEST(UploadSender, SecureUploadChecksTheCertificate) {
    const TestCertificates& certs = TestCertificates::Get();
    ASSERT_TRUE(certs.ok) << "the openssl command could not make the test certificates";
    const std::vector<uint8_t> file = Pattern(100000);
    auto serve = [&] {
        ServerScript script;
        script.response = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kPage.size()) +
                          "\r\n\r\n" + kPage;
        script.requestEndsAtEof = false;
        script.certFile = certs.certFile;
        script.keyFile = certs.keyFile;
        return std::make_unique<CTestServer>(script);
    };
    {
        auto server = serve();
        auto log = std::make_shared<LookupLog>();
        UploadOptions options = Options(server->Port(), log);
        options.extraTrustFile = certs.caFile;
        Progress progress;
        const UploadRequest request =
            BuildUploadRequest("upload.test", "a b&c", "me@example.org", 5, file);
        const UploadOutcome out =
            SendUpload(request, Server("https://upload.test"), progress, options);
        ASSERT_TRUE(server->WaitDone());
        EXPECT_EQ(out.result, kUploadOk) << out.message;
        EXPECT_EQ(out.answer, kPage);
        // The same bytes as in the clear.
        std::string expected;
        for (const auto& h : request.headers) expected += h;
        expected.append(file.begin(), file.end());
        expected += request.closing;
        EXPECT_TRUE(server->Request() == expected);
        EXPECT_EQ(progress.Values().size(), 101u);
        ASSERT_EQ(log->asked.size(), 1u);
        EXPECT_EQ(log->asked[0], std::make_pair(std::string("upload.test"), uint16_t(443)));
    }
    {
        // Without the test authority the certificate is not trusted.
        auto server = serve();
        Progress progress;
        const UploadOutcome out =
            SendUpload(BuildUploadRequest("upload.test", "", "", 5, file),
                       Server("https://upload.test"), progress, Options(server->Port()));
        EXPECT_EQ(out.result, kUploadSecureFailed);
        EXPECT_NE(out.message.find("certificate"), std::string::npos) << out.message;
        server->WaitDone();
        EXPECT_TRUE(server->Request().empty());
    }
    {
        // A trusted certificate for another name.
        auto server = serve();
        UploadOptions options = Options(server->Port());
        options.extraTrustFile = certs.caFile;
        Progress progress;
        const UploadOutcome out = SendUpload(BuildUploadRequest("other.test", "", "", 5, file),
                                             Server("https://other.test"), progress, options);
        EXPECT_EQ(out.result, kUploadSecureFailed);
        EXPECT_NE(out.message.find("mismatch"), std::string::npos) << out.message;
        server->WaitDone();
        EXPECT_TRUE(server->Request().empty());
    }
}
