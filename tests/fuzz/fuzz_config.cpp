// The configuration parser on arbitrary bytes, bound to the full settings table
// as the main window binds it. Writing what was read, then reading and writing
// again, must settle: a file we wrote reads back to itself.

#include "app/settings_fields.h"
#include "tests/fuzz/fuzz_seeds.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// One storage bound once (building the item table costs more than a parse);
// the settings go back to their defaults before every pass.
std::string Pass(std::string_view bytes) {
    static ProcessingSettings s;
    static SettingsFile file(s);
    s = ProcessingSettings();
    file.storage.Parse(bytes);
    return file.storage.Serialize();
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!SeedFolder()) return 0;
    {
        ProcessingSettings s;
        SettingsFile file(s);
        WriteSeed("seed_defaults.qvc", Bytes(file.storage.Serialize()));
    }
    {
        ProcessingSettings s;
        s.m_aEffects = {0, 33, 5};
        s.m_aEffectChecks = {1, 0, 1};
        s.m_sBorderName = "frame.bmp";
        s.m_sMaskName = "mask one.bmp";
        s.m_fRotateAngle = -12.5f;
        s.m_nSizeX = 1024;
        SettingsFile file(s);
        std::string text = file.storage.Serialize();
        WriteSeed("seed_changed.qvc", Bytes(text));
        // The same with CR LF line ends, as older files have them.
        std::string crlf;
        for (char c : text) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        WriteSeed("seed_crlf.qvc", Bytes(crlf));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string once = Pass(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string twice = Pass(once);
    if (Pass(twice) != twice) std::abort();
    return 0;
}
