#pragma once
// The FFmpeg encoders that can write into an AVI file on this machine, for the
// codec chooser and for pellorin-cli's --codec.

#include <optional>
#include <string>
#include <vector>

struct AviEncoderInfo {
    std::string name;           // FFmpeg's encoder name, as AviCodecOptions::encoder takes it
    std::string description;    // a readable name, e.g. "Motion JPEG"
    bool lossless = false;      // every frame comes back exactly (FFV1, uncompressed)
    bool usesQuality = false;   // the quality setting changes the result
    bool usesKeyFrames = false; // a key-frame interval means something (not intra-only)
    bool usesDataRate = false;  // a data rate can be chosen instead of a quality
};

// The encoders in the order a chooser offers them: Motion JPEG first (the
// default), then FFV1, MPEG-4 part 2 and uncompressed BGR when present, then
// the other ones by name. Only encoders that the AVI writer accepts and that
// open on this machine are listed (hardware encoders without their device are
// not). Worked out once per process; safe to call from any thread.
const std::vector<AviEncoderInfo>& AviEncoders();

// The entry for an encoder name, or nullptr when it cannot write AVI here.
const AviEncoderInfo* FindAviEncoder(const std::string& name);

// The same answer as FindAviEncoder for one name, found by trying that
// encoder alone rather than every one.
std::optional<AviEncoderInfo> AviEncoderNamed(const std::string& name);

// The encoder used when none is chosen.
inline constexpr const char* kDefaultAviEncoder = "mjpeg";
