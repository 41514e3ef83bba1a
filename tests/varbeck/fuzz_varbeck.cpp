// libFuzzer target: any bytes as an information file and as the value of a
// "Content-Length" header. The address must be one line of the input.
#include "check.h"

#include <cstdlib>
#include <string_view>

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
