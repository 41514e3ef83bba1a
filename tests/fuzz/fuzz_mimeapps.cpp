// mimeapps.list editing on arbitrary bytes: the file reads back unchanged,
// setting and removing our default take effect and settle after one step, and
// the defaults of another type never move.

#include "shell/mimeapps_list.h"
#include "tests/fuzz/fuzz_seeds.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kId = "pellorin.desktop";

void Check(bool ok) {
    if (!ok) std::abort();
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!SeedFolder()) return 0;
    WriteSeed("seed_plain.list", Bytes("[Default Applications]\nimage/png=viewer.desktop;\n"
                                       "image/jpeg=eog.desktop;gimp.desktop;\n"
                                       "[Added Associations]\nimage/png=pellorin.desktop;\n"));
    WriteSeed("seed_crlf.list",
              Bytes("# notes\r\n[Removed Associations]\r\nimage/png=x.desktop\r\n"
                    "\r\n[Default Applications]\r\n image/PNG = a;pellorin.desktop"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const CMimeAppsList original(input);
    Check(original.Bytes() == input);
    const auto otherBefore = original.Defaults("image/jpeg");

    CMimeAppsList list(input);
    list.SetDefault("image/png", kId);
    const std::string set = list.Bytes();
    Check(!list.Defaults("image/png").empty() && list.Defaults("image/png").front() == kId);
    Check(!list.SetDefault("image/png", kId) && list.Bytes() == set);
    Check(CMimeAppsList(set).Bytes() == set);
    Check(list.Defaults("image/jpeg") == otherBefore);

    list.RemoveDefault("image/png", kId);
    const std::string removed = list.Bytes();
    Check(!list.RemoveDefault("image/png", kId) && list.Bytes() == removed);
    const auto png = list.Defaults("image/png");
    Check(std::find(png.begin(), png.end(), kId) == png.end());
    Check(list.Defaults("image/jpeg") == otherBefore);
    return 0;
}
