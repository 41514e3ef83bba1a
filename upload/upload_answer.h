#pragma once
// The image host's answer, read as it arrives. The header is taken line by line
// and counts as accepted once "200" appears anywhere in it at a line end (some
// hosts answer with another status line and still take the picture). The body
// runs to the end of the connection, or to the end the header announces
// (Content-Length or chunked transfer), since a host that keeps the connection
// open would otherwise leave us waiting. Both parts are bounded in size.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CUploadAnswer {
public:
    enum class State {
        Header,      // still reading the header
        Body,        // accepted; reading the body
        Complete,    // accepted; the body has ended
        NotAccepted, // the header ended without "200"
        TooLarge,    // the header or the body passed its bound
        Malformed,   // a chunked body that cannot be read
    };

    CUploadAnswer(size_t maxHeaderBytes, size_t maxBodyBytes)
        : maxHeader_(maxHeaderBytes), maxBody_(maxBodyBytes) {}

    // Takes received bytes. Bytes that arrive after the end are ignored.
    void Feed(std::string_view bytes);
    // The server closed the connection (or it failed): ends the header, or the
    // body with what has arrived.
    void Closed();

    State GetState() const { return state_; }
    bool Finished() const { return state_ != State::Header && state_ != State::Body; }
    const std::string& Header() const { return header_; }
    std::string StatusLine() const;
    const std::string& Body() const { return body_; }

private:
    enum class Framing { UntilClose, Length, Chunked };
    enum class ChunkStep { Size, Data, DataEnd, Trailer };

    void FeedHeaderByte(char c);
    void EndHeader();
    void FeedBody(std::string_view bytes);
    void FeedChunked(std::string_view bytes);

    size_t maxHeader_;
    size_t maxBody_;
    State state_ = State::Header;
    bool accepted_ = false;
    std::string header_;
    size_t lineLength_ = 0; // without carriage returns
    size_t searched_ = 0;   // how much of the header was searched for "200"
    std::string body_;

    Framing framing_ = Framing::UntilClose;
    uint64_t contentLength_ = 0;
    ChunkStep chunkStep_ = ChunkStep::Size;
    std::string chunkLine_;
    uint64_t chunkLeft_ = 0;
};
