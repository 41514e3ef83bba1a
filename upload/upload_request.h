#pragma once
// The multipart POST that carries a picture to the image host, and what we take
// out of the host's answer page. The bytes are fixed: hosts that accept our
// uploads have only ever seen this exact form.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Larger pictures are refused before anything is sent.
inline constexpr uint64_t kMaxUploadBytes = 8388608;
// Pictures smaller than this go out in one send; larger ones in 99 equal chunks
// and a remainder, so that the progress bar moves.
inline constexpr size_t kSingleSendLimit = 81920;
inline constexpr int kUploadChunks = 99;
inline constexpr std::string_view kUploadBoundary = "1992308652479883908774655630";

// The formats offered, in the order of the dialog's buttons.
enum class UploadFormat : int { Ico = 0, Ani, Gif, Bmp, Jpg, Png, Tga, Tif };
inline constexpr int kUploadFormatCount = 8;
inline constexpr int kDefaultUploadFormat = int(UploadFormat::Png);

// "ico", "ani", ... ; empty for an index outside the table.
std::string_view UploadFormatExtension(int format);

// The description's URL form: 0-9 A-Z a-z and ~ ! * ( ) ' stay, every other byte
// becomes "%" and two lower-case hexadecimal digits.
std::string UrlEncodeDescription(std::string_view text);

// What the sender sends, in order: the seven header strings, the file bytes,
// the closing string.
struct UploadRequest {
    std::array<std::string, 7> headers;
    std::vector<uint8_t> file;
    std::string closing;

    uint64_t TotalBytes() const;
};

// hostHeader is what follows "Host: " (the server's host name); description is
// sent URL-encoded, email as it is. An unknown format index is taken as png.
UploadRequest BuildUploadRequest(std::string_view hostHeader, std::string_view description,
                                 std::string_view email, int format, std::vector<uint8_t> file);

// The link in the answer page belonging to the first occurrence of key
// ("/images/" or "/albums/"): the href of the last "<a href" before it. Empty
// when the key is absent or no well-formed link surrounds it.
std::string ExtractLink(std::string_view answer, std::string_view key);
inline constexpr std::string_view kImageLinkKey = "/images/";
inline constexpr std::string_view kAlbumLinkKey = "/albums/";

// The answer as shown and saved: without carriage returns.
std::string RemoveCarriageReturns(std::string_view text);
