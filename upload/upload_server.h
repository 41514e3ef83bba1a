#pragma once
// The upload server setting: "host", "host:port" or "http://host[:port]" are
// spoken to in plain HTTP (port 80 unless given), "https://host[:port]" over TLS
// (port 443 unless given) with the server's certificate checked.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct UploadServer {
    std::string host; // name or address to look up and, for TLS, to verify
    uint16_t port = 80;
    bool tls = false;
    std::string hostHeader; // what the request's "Host:" line names
};

// Nullopt for an empty or malformed setting. The host may hold only letters,
// digits, '-', '.' and '_' (or an IPv6 address in brackets), so nothing the user
// types can break into the request's header lines.
std::optional<UploadServer> ParseUploadServer(std::string_view text);
