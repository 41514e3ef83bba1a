#include "upload/upload_server.h"

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool IsNameChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
           c == '.' || c == '_';
}

bool IsV6Char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f') || c == ':' ||
           c == '.';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

} // namespace

std::optional<UploadServer> ParseUploadServer(std::string_view text) {
    std::string_view s = Trim(text);
    UploadServer server;
    if (StartsWithNoCase(s, "https://")) {
        server.tls = true;
        server.port = 443;
        s.remove_prefix(8);
    } else if (StartsWithNoCase(s, "http://")) {
        s.remove_prefix(7);
    }
    // The request path is fixed; a bare trailing slash is all we accept after it.
    if (!s.empty() && s.back() == '/') s.remove_suffix(1);
    if (s.empty()) return std::nullopt;

    std::string_view host, portText;
    if (s.front() == '[') {
        const size_t close = s.find(']');
        if (close == std::string_view::npos || close < 2) return std::nullopt;
        host = s.substr(1, close - 1);
        for (char c : host)
            if (!IsV6Char(c)) return std::nullopt;
        std::string_view rest = s.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            portText = rest.substr(1);
            if (portText.empty()) return std::nullopt;
        }
    } else {
        const size_t colon = s.find(':');
        host = s.substr(0, colon);
        if (colon != std::string_view::npos) {
            portText = s.substr(colon + 1);
            if (portText.empty()) return std::nullopt;
        }
        if (host.empty()) return std::nullopt;
        for (char c : host)
            if (!IsNameChar(c)) return std::nullopt;
    }

    const uint16_t defaultPort = server.port;
    if (!portText.empty()) {
        if (portText.size() > 5) return std::nullopt;
        uint32_t port = 0;
        for (char c : portText) {
            if (c < '0' || c > '9') return std::nullopt;
            port = port * 10 + uint32_t(c - '0');
        }
        if (port == 0 || port > 65535) return std::nullopt;
        server.port = uint16_t(port);
    }
    server.host = std::string(host);
    const bool v6 = s.front() == '[';
    server.hostHeader = v6 ? "[" + server.host + "]" : server.host;
    // A port other than the scheme's own belongs in the Host line, as HTTP asks.
    if (server.port != defaultPort) server.hostHeader += ":" + std::to_string(server.port);
    return server;
}
