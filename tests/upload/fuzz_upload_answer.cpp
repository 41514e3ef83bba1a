// The upload's readers of untrusted text on arbitrary bytes: the server's
// answer (fed whole and in pieces, which must agree), the links taken from it,
// and the server setting, which must never let a line break into the request.

#include "tests/fuzz/fuzz_seeds.h"
#include "upload/upload_answer.h"
#include "upload/upload_request.h"
#include "upload/upload_server.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Seed(const char* name, char step, const std::string& text) {
    std::vector<uint8_t> bytes{uint8_t(step)};
    bytes.insert(bytes.end(), text.begin(), text.end());
    WriteSeed(name, bytes);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!SeedFolder()) return 0;
    const std::string page =
        "<a href=\"http://h/images/a.png\">i</a><a href=\"http://h/albums/b\">";
    Seed("seed_plain", 3, "HTTP/1.1 200 OK\r\nServer: x\r\n\r\n" + page);
    Seed("seed_length", 5,
         "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page);
    Seed("seed_chunked", 7,
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10;x=y\r\n" + page.substr(0, 16) +
             "\r\n0\r\nT: v\r\n\r\n");
    Seed("seed_refused", 1, "HTTP/1.1 404 Not Found\r\n\r\n");
    Seed("seed_server", 1, "https://[::1]:8443/");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t step = 1 + data[0] % 17;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    CUploadAnswer whole(4096, 65536);
    whole.Feed(bytes);
    whole.Closed();
    CUploadAnswer pieces(4096, 65536);
    for (size_t i = 0; i < bytes.size(); i += step) pieces.Feed(bytes.substr(i, step));
    pieces.Closed();
    if (whole.GetState() != pieces.GetState() || whole.Body() != pieces.Body()) std::abort();
    if (whole.Header().size() > 4096 || whole.Body().size() > 65536) std::abort();

    for (std::string_view key : {kImageLinkKey, kAlbumLinkKey}) {
        const std::string link = ExtractLink(bytes, key);
        if (!link.empty() && bytes.find(link) == std::string_view::npos) std::abort();
    }

    if (const auto server = ParseUploadServer(bytes)) {
        for (char c : server->hostHeader)
            if (c == '\r' || c == '\n' || c == ' ' || c == '\0') std::abort();
        if (server->port == 0 || server->host.empty()) std::abort();
    }
    return 0;
}
