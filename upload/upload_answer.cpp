#include "upload/upload_answer.h"

#include <algorithm>

namespace {

constexpr size_t kMaxChunkLine = 1024;

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

std::string CUploadAnswer::StatusLine() const {
    return std::string(Trim(std::string_view(header_).substr(0, header_.find('\n'))));
}

void CUploadAnswer::Feed(std::string_view bytes) {
    size_t i = 0;
    while (state_ == State::Header && i < bytes.size()) FeedHeaderByte(bytes[i++]);
    if (state_ == State::Body && i < bytes.size()) FeedBody(bytes.substr(i));
}

void CUploadAnswer::Closed() {
    if (state_ == State::Header) EndHeader();
    if (state_ == State::Body) state_ = State::Complete;
}

void CUploadAnswer::FeedHeaderByte(char c) {
    if (header_.size() >= maxHeader_) {
        state_ = State::TooLarge;
        return;
    }
    header_ += c;
    if (c == '\r') return;
    if (c != '\n') {
        ++lineLength_;
        return;
    }
    const bool empty = lineLength_ == 0;
    lineLength_ = 0;
    // Only the text not yet searched (and two bytes before it) can hold a new "200".
    if (!accepted_ && header_.find("200", searched_ > 2 ? searched_ - 2 : 0) != std::string::npos)
        accepted_ = true;
    searched_ = header_.size();
    if (empty) EndHeader();
}

void CUploadAnswer::EndHeader() {
    if (!accepted_) {
        state_ = State::NotAccepted;
        return;
    }
    state_ = State::Body;
    // The header lines after the status line say where the body ends.
    bool haveLength = false;
    std::string_view rest(header_);
    size_t start = rest.find('\n');
    while (start != std::string_view::npos && start + 1 < rest.size()) {
        const size_t end = rest.find('\n', start + 1);
        const std::string_view line =
            rest.substr(start + 1, (end == std::string_view::npos ? rest.size() : end) - start - 1);
        start = end;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (EqualsNoCase(name, "transfer-encoding")) {
            // The last coding is the one that frames the body.
            const size_t comma = value.rfind(',');
            const std::string_view last =
                Trim(comma == std::string_view::npos ? value : value.substr(comma + 1));
            if (EqualsNoCase(last, "chunked")) framing_ = Framing::Chunked;
        } else if (EqualsNoCase(name, "content-length") && !haveLength && !value.empty() &&
                   value.size() <= 19 && std::all_of(value.begin(), value.end(), [](char d) {
                       return d >= '0' && d <= '9';
                   })) {
            haveLength = true;
            contentLength_ = 0;
            for (char d : value) contentLength_ = contentLength_ * 10 + uint64_t(d - '0');
        }
    }
    if (framing_ != Framing::Chunked && haveLength) {
        if (contentLength_ > maxBody_) {
            state_ = State::TooLarge;
            return;
        }
        framing_ = Framing::Length;
        if (contentLength_ == 0) state_ = State::Complete;
    }
}

void CUploadAnswer::FeedBody(std::string_view bytes) {
    switch (framing_) {
    case Framing::UntilClose:
        if (body_.size() + bytes.size() > maxBody_) {
            state_ = State::TooLarge;
            return;
        }
        body_.append(bytes);
        break;
    case Framing::Length: {
        const size_t take = size_t(std::min<uint64_t>(bytes.size(), contentLength_ - body_.size()));
        body_.append(bytes.substr(0, take));
        if (body_.size() == contentLength_) state_ = State::Complete;
        break;
    }
    case Framing::Chunked:
        FeedChunked(bytes);
        break;
    }
}

void CUploadAnswer::FeedChunked(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size() && state_ == State::Body) {
        switch (chunkStep_) {
        case ChunkStep::Size:
        case ChunkStep::Trailer: {
            const char c = bytes[i++];
            if (c != '\n') {
                if (chunkLine_.size() >= kMaxChunkLine) {
                    state_ = State::Malformed;
                    return;
                }
                chunkLine_ += c;
                break;
            }
            const std::string_view line = Trim(chunkLine_);
            if (chunkStep_ == ChunkStep::Trailer) {
                if (line.empty()) state_ = State::Complete;
                chunkLine_.clear();
                break;
            }
            // Hexadecimal size, then optional extensions after ";".
            uint64_t size = 0;
            size_t digits = 0;
            for (char d : line) {
                const int v = HexValue(d);
                if (v < 0) break;
                size = size * 16 + uint64_t(v);
                if (size > maxBody_) {
                    state_ = State::TooLarge;
                    return;
                }
                ++digits;
            }
            const std::string_view after = Trim(line.substr(digits));
            if (digits == 0 || (!after.empty() && after.front() != ';')) {
                state_ = State::Malformed;
                return;
            }
            chunkLine_.clear();
            if (size == 0) {
                chunkStep_ = ChunkStep::Trailer;
            } else if (body_.size() + size > maxBody_) {
                state_ = State::TooLarge;
                return;
            } else {
                chunkLeft_ = size;
                chunkStep_ = ChunkStep::Data;
            }
            break;
        }
        case ChunkStep::Data: {
            const size_t take = size_t(std::min<uint64_t>(bytes.size() - i, chunkLeft_));
            body_.append(bytes.substr(i, take));
            i += take;
            chunkLeft_ -= take;
            if (chunkLeft_ == 0) chunkStep_ = ChunkStep::DataEnd;
            break;
        }
        case ChunkStep::DataEnd: {
            const char c = bytes[i++];
            if (c == '\r') break;
            if (c != '\n') {
                state_ = State::Malformed;
                return;
            }
            chunkStep_ = ChunkStep::Size;
            break;
        }
        }
    }
}
