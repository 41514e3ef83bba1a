#include "upload/upload_request.h"

namespace {

constexpr std::string_view kExtensions[kUploadFormatCount] = {"ico", "ani", "gif", "bmp",
                                                              "jpg", "png", "tga", "tif"};
constexpr std::string_view kContentTypes[kUploadFormatCount] = {
    "image/ico",  "image/ani", "image/gif", "image/bmp",
    "image/jpeg", "image/png", "image/tga", "image/tiff"};

bool PassesUnencoded(unsigned char c) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
    switch (c) {
    case '~':
    case '!':
    case '*':
    case '(':
    case ')':
    case '\'':
        return true;
    default:
        return false;
    }
}

} // namespace

std::string_view UploadFormatExtension(int format) {
    if (format < 0 || format >= kUploadFormatCount) return {};
    return kExtensions[format];
}

std::string UrlEncodeDescription(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() * 3);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (PassesUnencoded(c)) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

uint64_t UploadRequest::TotalBytes() const {
    uint64_t n = file.size() + closing.size();
    for (const auto& h : headers) n += h.size();
    return n;
}

UploadRequest BuildUploadRequest(std::string_view hostHeader, std::string_view description,
                                 std::string_view email, int format, std::vector<uint8_t> file) {
    if (format < 0 || format >= kUploadFormatCount) format = kDefaultUploadFormat;
    const std::string boundary(kUploadBoundary);
    UploadRequest r;
    // Every line as hosts have always received it, the space in "* /*" included.
    r.headers[0] = "POST /upload.php HTTP/1.1\r\nHost: " + std::string(hostHeader) +
                   "\r\nUser-Agent: Mozilla/5.0 (X11; U; Linux i686; ru; rv:1.9.2.3) "
                   "Gecko/20100423 Ubuntu/10.04 (lucid) Firefox/3.6.3\r\n"
                   "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,* /*;q=0.8\r\n"
                   "Accept-Language: ru,en-us;q=0.7,en;q=0.3\r\n"
                   "Accept-Encoding: gzip,deflate\r\n"
                   "Accept-Charset: windows-1251,utf-8;q=0.7,*;q=0.7\r\n"
                   "Keep-Alive: 115\r\n"
                   "Connection: keep-alive\r\n";
    r.headers[1] = "Content-Type: multipart/form-data; boundary=" + boundary + "\r\n";
    r.headers[3] = "\r\n\r\n--" + boundary +
                   "\r\nContent-Disposition: form-data; name=\"desc\"\r\n\r\n" +
                   UrlEncodeDescription(description) + "\r\n--" + boundary + "\r\n";
    r.headers[4] = "Content-Disposition: form-data; name=\"email\"\r\n\r\n" + std::string(email) +
                   "\r\n--" + boundary + "\r\n";
    r.headers[5] = "Content-Disposition: form-data; name=\"userfile\"; filename=\"ru-select." +
                   std::string(kExtensions[format]) + "\"\r\n";
    r.headers[6] = "Content-Type: " + std::string(kContentTypes[format]) + "\r\n\r\n";
    r.closing = "\r\n--" + boundary + "--\r\n\r\n";
    // The declared length stops short of the closing string's last CR LF.
    const uint64_t length = r.headers[3].size() + r.headers[4].size() + r.headers[5].size() +
                            r.headers[6].size() + file.size() + 34;
    r.headers[2] = "Content-Length: " + std::to_string(length) + "\r\n";
    r.file = std::move(file);
    return r;
}

std::string ExtractLink(std::string_view answer, std::string_view key) {
    const size_t p = answer.find(key);
    if (p == std::string_view::npos) return {};
    constexpr std::string_view kAnchor = "<a href";
    size_t s = 0;
    if (p > 0) {
        const size_t a = answer.rfind(kAnchor, p - 1);
        if (a != std::string_view::npos) s = a;
    }
    s += kAnchor.size() + 2; // past "<a href" and the following ="
    if (s > answer.size()) return {};
    const size_t e = answer.find('>', s);
    // The closing quote before ">" is dropped; a ">" too close leaves nothing.
    if (e == std::string_view::npos || e < s + 1) return {};
    return std::string(answer.substr(s, e - s - 1));
}

std::string RemoveCarriageReturns(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}
