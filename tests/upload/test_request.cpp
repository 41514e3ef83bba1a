// The request's bytes, the description's encoding, the server setting, the
// answer reader and the links taken from the answer page.

#include "upload/upload_answer.h"
#include "upload/upload_request.h"
#include "upload/upload_server.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Joined(const UploadRequest& r) {
    std::string s;
    for (const auto& h : r.headers) s += h;
    s.append(r.file.begin(), r.file.end());
    return s + r.closing;
}

} // namespace

TEST(UploadRequest, FormatsNameTheirFileAndContentType) {
    const char* ext[] = {"ico", "ani", "gif", "bmp", "jpg", "png", "tga", "tif"};
    const char* type[] = {"image/ico",  "image/ani", "image/gif", "image/bmp",
                          "image/jpeg", "image/png", "image/tga", "image/tiff"};
    for (int f = 0; f < kUploadFormatCount; ++f) {
        const UploadRequest r = BuildUploadRequest("h", "", "", f, {});
        EXPECT_EQ(r.headers[5], std::string("Content-Disposition: form-data; name=\"userfile\"; "
                                            "filename=\"ru-select.") +
                                    ext[f] + "\"\r\n");
        EXPECT_EQ(r.headers[6], std::string("Content-Type: ") + type[f] + "\r\n\r\n");
    }
    // An index outside the table is sent as png rather than read past it.
    EXPECT_EQ(BuildUploadRequest("h", "", "", 8, {}).headers[6], "Content-Type: image/png\r\n\r\n");
    EXPECT_EQ(BuildUploadRequest("h", "", "", -1, {}).headers[6],
              "Content-Type: image/png\r\n\r\n");
}

TEST(UploadRequest, DeclaredLengthLeavesOutTheLastLineEnd) {
    for (size_t n : {size_t(0), size_t(1), size_t(81920)}) {
        const UploadRequest r = BuildUploadRequest("pics.example", "some words", "a@b.c", 4,
                                                   std::vector<uint8_t>(n, 7));
        const std::string all = Joined(r);
        const size_t blank = all.find("\r\n\r\n");
        ASSERT_NE(blank, std::string::npos);
        const size_t cl = all.find("Content-Length: ");
        const long long declared = std::stoll(all.substr(cl + 16));
        EXPECT_EQ((long long)(all.size() - blank - 4), declared + 2) << n;
        EXPECT_EQ(r.TotalBytes(), all.size());
    }
}

TEST(UploadRequest, DescriptionEncoding) {
    EXPECT_EQ(UrlEncodeDescription("a b&c"), "a%20b%26c");
    EXPECT_EQ(UrlEncodeDescription("\xe9"), "%e9"); // é in code page 1252
    EXPECT_EQ(UrlEncodeDescription("Az09~!*()'"), "Az09~!*()'");
    // Only the listed marks pass: these common ones are encoded, lower-case hex.
    EXPECT_EQ(UrlEncodeDescription("-._/?=%\n"), "%2d%2e%5f%2f%3f%3d%25%0a");
    EXPECT_EQ(UrlEncodeDescription(std::string("\0\xff", 2)), "%00%ff");
    EXPECT_EQ(UrlEncodeDescription(""), "");
}

TEST(UploadLinks, TakesTheLastAnchorBeforeTheFirstKey) {
    const std::string page = "<html><a href=\"http://h/other\">x</a>\n"
                             "<a href=\"http://h/images/one.png\">first</a>\n"
                             "<a href=\"http://h/images/two.png\">second</a>\n"
                             "<a href=\"http://h/albums/me\">album</a></html>";
    EXPECT_EQ(ExtractLink(page, kImageLinkKey), "http://h/images/one.png");
    EXPECT_EQ(ExtractLink(page, kAlbumLinkKey), "http://h/albums/me");
    // The key in the text of a later anchor still points back to the anchor
    // before it.
    EXPECT_EQ(ExtractLink("<a href=\"http://h/a\">see /images/</a>", kImageLinkKey), "http://h/a");
}

TEST(UploadLinks, MalformedPagesGiveNoLinkOrTheRawSlice) {
    EXPECT_EQ(ExtractLink("no links here", kImageLinkKey), "");
    EXPECT_EQ(ExtractLink("", kAlbumLinkKey), "");
    // Without "<a href" the slice starts at 9, as in every older version.
    EXPECT_EQ(ExtractLink("0123456789abc/images/x\">", kImageLinkKey), "9abc/images/x");
    // No ">" after the anchor, or one right at its start: no link, no crash.
    EXPECT_EQ(ExtractLink("<a href=\"http://h/images/x", kImageLinkKey), "");
    EXPECT_EQ(ExtractLink("<a href=\">/images/", kImageLinkKey), "");
    EXPECT_EQ(ExtractLink("/images/", kImageLinkKey), "");
}

TEST(UploadServerSetting, PlainAndSecureForms) {
    auto s = ParseUploadServer("pics.example.org");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->host, "pics.example.org");
    EXPECT_EQ(s->port, 80);
    EXPECT_FALSE(s->tls);
    EXPECT_EQ(s->hostHeader, "pics.example.org");

    s = ParseUploadServer("  pics.example.org:8080 ");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->port, 8080);
    EXPECT_EQ(s->hostHeader, "pics.example.org:8080");

    s = ParseUploadServer("HTTPS://Pics.Example/");
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->tls);
    EXPECT_EQ(s->port, 443);
    EXPECT_EQ(s->host, "Pics.Example");
    EXPECT_EQ(s->hostHeader, "Pics.Example");

    s = ParseUploadServer("https://pics.example:443");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->hostHeader, "pics.example");
    s = ParseUploadServer("http://pics.example:80");
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->tls);
    EXPECT_EQ(s->hostHeader, "pics.example");

    s = ParseUploadServer("[::1]:81");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->host, "::1");
    EXPECT_EQ(s->hostHeader, "[::1]:81");
}

TEST(UploadServerSetting, RejectsWhatCouldBreakTheRequest) {
    for (const char* bad :
         {"", "   ", "https://", "host:", "host:0", "host:65536", "host:99999999", "host:8a",
          "host/path", "http://host/upload", "bad host", "host\r\nX-Evil: 1", "ho\"st", "[::1",
          "[zz::1]", "[::1]x", ":80", "a:b:c"})
        EXPECT_FALSE(ParseUploadServer(bad)) << bad;
}

TEST(UploadAnswer, TwoHundredAnywhereInTheHeaderAccepts) {
    CUploadAnswer a(1024, 1024);
    a.Feed("HTTP/1.1 302 Found\r\nX-Id: 52007\r\n\r\nbody");
    a.Closed();
    EXPECT_EQ(a.GetState(), CUploadAnswer::State::Complete);
    EXPECT_EQ(a.Body(), "body");

    CUploadAnswer b(1024, 1024);
    b.Feed("HTTP/1.1 404 Not Found\r\nServer: x\r\n\r\n<html>200</html>");
    EXPECT_EQ(b.GetState(), CUploadAnswer::State::NotAccepted);
    EXPECT_EQ(b.StatusLine(), "HTTP/1.1 404 Not Found");
}

TEST(UploadAnswer, TwoHundredSplitOverFeedsAndLineEnds) {
    // "200" is looked for at each line end in everything read so far, however
    // the bytes arrive.
    const std::string header = "HTTP/1.1 500 Oops\r\nX: 12\r\nY: 00\r\n\r\n";
    CUploadAnswer whole(1024, 1024);
    whole.Feed(header);
    EXPECT_EQ(whole.GetState(), CUploadAnswer::State::NotAccepted);

    const std::string split = "HTTP/1.1 500 Oops\r\nX: 2\r\nY: 1200\n\r\nok";
    CUploadAnswer bytes(1024, 1024);
    for (char c : split) bytes.Feed(std::string_view(&c, 1));
    bytes.Closed();
    EXPECT_EQ(bytes.GetState(), CUploadAnswer::State::Complete);
    EXPECT_EQ(bytes.Body(), "ok");

    // A header cut off by the server's close ends there; without a line end
    // the "200" in it was never looked at.
    CUploadAnswer cut(1024, 1024);
    cut.Feed("HTTP/1.1 200 OK");
    cut.Closed();
    EXPECT_EQ(cut.GetState(), CUploadAnswer::State::NotAccepted);
    CUploadAnswer cutAfterLine(1024, 1024);
    cutAfterLine.Feed("HTTP/1.1 200 OK\n");
    cutAfterLine.Closed();
    EXPECT_EQ(cutAfterLine.GetState(), CUploadAnswer::State::Complete);
    EXPECT_EQ(cutAfterLine.Body(), "");
}

TEST(UploadAnswer, BodyEndsAtItsDeclaredLength) {
    CUploadAnswer a(1024, 1024);
    a.Feed("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhel");
    EXPECT_EQ(a.GetState(), CUploadAnswer::State::Body);
    a.Feed("lo, and more");
    EXPECT_EQ(a.GetState(), CUploadAnswer::State::Complete);
    EXPECT_EQ(a.Body(), "hello");

    CUploadAnswer empty(1024, 1024);
    empty.Feed("HTTP/1.1 200 OK\r\ncontent-length:0\r\n\r\n");
    EXPECT_EQ(empty.GetState(), CUploadAnswer::State::Complete);

    // A length that is no number is ignored: the body runs to the close.
    CUploadAnswer odd(1024, 1024);
    odd.Feed("HTTP/1.1 200 OK\r\nContent-Length: 5x\r\n\r\nabcdefgh");
    EXPECT_EQ(odd.GetState(), CUploadAnswer::State::Body);
    odd.Closed();
    EXPECT_EQ(odd.Body(), "abcdefgh");
}

TEST(UploadAnswer, HostileSizesAreRefusedWithoutAllocating) {
    CUploadAnswer huge(1024, 1 << 20);
    huge.Feed("HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n");
    EXPECT_EQ(huge.GetState(), CUploadAnswer::State::TooLarge);
    CUploadAnswer huger(1024, 1 << 20);
    huger.Feed("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n");
    EXPECT_NE(huger.GetState(), CUploadAnswer::State::Complete);

    CUploadAnswer chunk(1024, 1 << 20);
    chunk.Feed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffffffff\r\n");
    EXPECT_EQ(chunk.GetState(), CUploadAnswer::State::TooLarge);

    CUploadAnswer header(64, 1024);
    header.Feed("HTTP/1.1 200 OK\r\n" + std::string(100, 'x'));
    EXPECT_EQ(header.GetState(), CUploadAnswer::State::TooLarge);
    EXPECT_LE(header.Header().size(), 64u);

    CUploadAnswer body(1024, 10);
    body.Feed("HTTP/1.1 200 OK\r\n\r\n0123456789");
    EXPECT_EQ(body.GetState(), CUploadAnswer::State::Body);
    body.Feed("x");
    EXPECT_EQ(body.GetState(), CUploadAnswer::State::TooLarge);
}

TEST(UploadAnswer, ChunkedBodyIsJoinedHoweverItArrives) {
    const std::string answer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n"
                               "5;name=x\r\n<a hr\r\n"
                               "1B\r\nef=\"http://h/images/p\">x</a\r\n"
                               "0\r\nTrailer: t\r\n\r\nafter the end";
    const std::string expected = "<a href=\"http://h/images/p\">x</a";
    CUploadAnswer whole(1024, 1024);
    whole.Feed(answer);
    EXPECT_EQ(whole.GetState(), CUploadAnswer::State::Complete);
    EXPECT_EQ(whole.Body(), expected);
    CUploadAnswer bytes(1024, 1024);
    for (char c : answer) bytes.Feed(std::string_view(&c, 1));
    EXPECT_EQ(bytes.GetState(), CUploadAnswer::State::Complete);
    EXPECT_EQ(bytes.Body(), expected);

    for (const char* bad : {"zz\r\n", "5\r\nabcdeX\r\n", "5 junk\r\nabcde\r\n"}) {
        CUploadAnswer m(1024, 1024);
        m.Feed(std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n") + bad);
        EXPECT_EQ(m.GetState(), CUploadAnswer::State::Malformed) << bad;
    }
    // A chunked body cut short by the close keeps what arrived.
    CUploadAnswer cut(1024, 1024);
    cut.Feed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabc");
    cut.Closed();
    EXPECT_EQ(cut.GetState(), CUploadAnswer::State::Complete);
    EXPECT_EQ(cut.Body(), "abc");
}
