// libFuzzer target: any bytes as an information file and as the value of a
// "Content-Length" header. The address must be one line of the input.
#include "check.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// Information files of every line-end style, and header values.
void WriteSeeds(const char* dir) {
    const char* const seeds[] = {"5.9\r\nhttp://127.0.0.1/setup\r\n",
                                 "6.0 beta\n\n\rhttp://127.0.0.1/a b\nrest\n",
                                 "6\rfile:///tmp/x\r",
                                 "7",
                                 " 2147483648\r\n",
                                 "1000000000000000"};
    int n = 0;
    for (const char* seed : seeds) {
        const std::string path = std::string(dir) + "/seed-" + std::to_string(n++);
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fputs(seed, f);
            std::fclose(f);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (const char* dir = std::getenv("PELLORIN_FUZZ_WRITE_SEEDS")) WriteSeeds(dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const varbeck::InfoFile info = varbeck::ParseInfoFile(text, size);
    if (info.address.size() > size) std::abort();
    if (info.address.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        std::abort();
    if (!info.address.empty() &&
        std::string_view(text, size).find(info.address) == std::string_view::npos)
        std::abort();
    (void)varbeck::Judge(info, 5.9f);
    const int64_t length = varbeck::ParseContentLength(std::string_view(text, size));
    if (length < -999999999999999LL || length > 999999999999999LL) std::abort();
    return 0;
}
