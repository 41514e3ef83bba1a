// Fetching the information file: http and https through libcurl, everything
// else from the local file system. Whatever a server or a file claims, the body
// never grows beyond VARBECK_MAX_FILE_SIZE and no transfer outlives the time
// limit.
#include "check.h"

#include "varbeck.h"

#include <curl/curl.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>

namespace varbeck {

namespace {

constexpr size_t kMaxPart = 255; // each part of an address, decoded

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(s[i]) != Lower(prefix[i])) return false;
    return true;
}

// The scheme of an address in lower case ("http", "file"), empty when the text
// does not start with one (a plain path).
std::string SchemeOf(const std::string& address) {
    const size_t colon = address.find(':');
    if (colon == std::string::npos || colon == 0) return {};
    std::string scheme;
    for (size_t i = 0; i < colon; ++i) {
        const char c = address[i];
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (!alpha && !(i > 0 && (digit || c == '+' || c == '-' || c == '.'))) return {};
        scheme.push_back(Lower(c));
    }
    return scheme;
}

struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;

struct CurlStrDeleter {
    void operator()(char* s) const { curl_free(s); }
};

// Reads one decoded part of a parsed address. Missing parts count as empty;
// false when the part cannot be decoded or is longer than an address part may be.
bool Part(CURLU* url, CURLUPart which, std::string& out) {
    char* raw = nullptr;
    const CURLUcode rc = curl_url_get(url, which, &raw, CURLU_URLDECODE);
    std::unique_ptr<char, CurlStrDeleter> holder(raw);
    out.clear();
    if (rc == CURLUE_OK) {
        out = raw;
        return out.size() <= kMaxPart;
    }
    return rc == CURLUE_NO_HOST || rc == CURLUE_NO_USER || rc == CURLUE_NO_PASSWORD ||
           rc == CURLUE_NO_QUERY || rc == CURLUE_NO_FRAGMENT || rc == CURLUE_NO_PORT ||
           rc == CURLUE_NO_OPTIONS || rc == CURLUE_NO_ZONEID;
}

// Splits an http, https or file address; null when it cannot be split.
UrlPtr Split(const std::string& address, bool file) {
    UrlPtr url(curl_url());
    if (!url) return nullptr;
    if (curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK) return nullptr;
    std::string host, part;
    if (!Part(url.get(), CURLUPART_HOST, host)) return nullptr;
    if (file) {
        // Only files of this machine.
        if (!host.empty() && host != "localhost") return nullptr;
    } else if (host.empty()) {
        return nullptr;
    }
    for (CURLUPart p : {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_PATH, CURLUPART_QUERY})
        if (!Part(url.get(), p, part)) return nullptr;
    return url;
}

int32_t ReadLocalFile(const std::string& path, std::string& body) {
    // Only a regular file is read: a pipe or a device could block the check
    // for ever or feed it without end. Opening does not block on a pipe.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return VARBECK_FETCH_FAILED;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return VARBECK_FETCH_FAILED;
    if (st.st_size > VARBECK_MAX_FILE_SIZE) return VARBECK_TOO_LARGE;
    const size_t size = size_t(st.st_size);
    body.assign(size, '\0');
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, body.data() + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    // The file shrank under us or could not be read: not what it claimed to be.
    if (done != size) return VARBECK_FETCH_FAILED;
    return 0;
}

// The state of one download, seen by the header and body callbacks.
struct Download {
    int status = 0; // of the response being received
    bool haveLength = false;
    int64_t length = -1; // its "Content-Length"
    bool headersDone = false;
    bool accepted = false; // its headers were complete and acceptable
    bool surplus = false;  // more body than announced arrived and was dropped
    int32_t refusal = VARBECK_FETCH_FAILED;
    std::string* body = nullptr;
};

// Decides at the end of a response's headers whether its body is wanted,
// before the first byte of it arrives: a length beyond the bound is refused
// here, so that nothing is ever allocated for it.
bool AcceptHeaders(Download& d) {
    if (d.status >= 100 && d.status < 200) return true; // an interim answer
    if (d.status >= 300 && d.status < 400) return true; // followed, or refused on its body
    if (d.status < 200 || d.status >= 300) return false;
    if (!d.haveLength || d.length <= 0) return false; // missing or zero: nothing to read
    if (d.length > VARBECK_MAX_FILE_SIZE) {
        d.refusal = VARBECK_TOO_LARGE;
        return false;
    }
    d.body->clear();
    d.body->reserve(size_t(d.length));
    d.accepted = true;
    return true;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Download& d = *static_cast<Download*>(user);
    const size_t n = size * count;
    const std::string_view line(data, n);
    if (StartsWithNoCase(line, "HTTP/")) {
        // A new response (after an interim answer or a redirect) starts afresh.
        d.status = 0;
        d.haveLength = false;
        d.length = -1;
        d.headersDone = false;
        d.accepted = false;
        const size_t space = line.find(' ');
        if (space != std::string_view::npos)
            for (size_t i = space + 1; i < n && i < space + 4 && line[i] >= '0' && line[i] <= '9';
                 ++i)
                d.status = d.status * 10 + (line[i] - '0');
    } else if (StartsWithNoCase(line, "content-length:")) {
        // The first one counts, as a header query would return it.
        if (!d.haveLength) d.length = ParseContentLength(line.substr(15));
        d.haveLength = true;
    } else if ((line == "\r\n" || line == "\n") && !d.headersDone) {
        // (A blank line after the body ends trailers, not headers.)
        d.headersDone = true;
        if (!AcceptHeaders(d)) return 0; // stops the transfer
    }
    return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Download& d = *static_cast<Download*>(user);
    const size_t n = size * count;
    if (!d.accepted) return 0;
    const size_t room = size_t(d.length) - d.body->size();
    if (n > room) {
        // More than announced: keep what was announced and stop reading.
        d.body->append(data, room);
        d.surplus = true;
        return 0;
    }
    d.body->append(data, n);
    return n;
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

int32_t HttpFetch(UrlPtr url, int32_t timeLimitMs, std::string& body) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) return VARBECK_FETCH_FAILED;
    // Always the server's current file, never a cached copy.
    curl_slist* raw = curl_slist_append(nullptr, "Cache-Control: no-cache");
    std::unique_ptr<curl_slist, SlistDeleter> headers(raw);
    if (!raw || !curl_slist_append(raw, "Pragma: no-cache")) return VARBECK_FETCH_FAILED;

    Download d;
    d.body = &body;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_CURLU, url.get());
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Varbeck");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, raw);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L); // a worker thread must not get signals
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, long(timeLimitMs));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(timeLimitMs));
    // A proxy's answer to CONNECT is not the server's: its headers must not
    // reach OnHeader, which would take them for an answer without a length.
    curl_easy_setopt(c, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &d);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &d);

    const CURLcode rc = curl_easy_perform(c);
    if (!d.accepted) return d.refusal;
    const bool complete = rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && d.surplus);
    // A body cut short is not the file: its address line could be cut too.
    if (!complete || int64_t(body.size()) != d.length) return VARBECK_FETCH_FAILED;
    return 0;
}

} // namespace

int32_t Fetch(const std::string& address, int32_t timeLimitMs, std::string& body) {
    try {
        body.clear();
        if (address.empty() || address.size() > VARBECK_MAX_ADDRESS) return VARBECK_BAD_ADDRESS;
        const std::string scheme = SchemeOf(address);
        if (scheme == "http" || scheme == "https") {
            UrlPtr url = Split(address, false);
            if (!url) return VARBECK_BAD_ADDRESS;
            return HttpFetch(std::move(url), timeLimitMs, body);
        }
        if (scheme == "file") {
            UrlPtr url = Split(address, true);
            std::string path;
            if (!url || !Part(url.get(), CURLUPART_PATH, path)) return VARBECK_BAD_ADDRESS;
            return ReadLocalFile(path, body);
        }
        // A plain path, or a scheme we do not fetch: the text names a local file.
        return ReadLocalFile(address, body);
    } catch (...) {
        body.clear();
        return VARBECK_FETCH_FAILED;
    }
}

} // namespace varbeck
