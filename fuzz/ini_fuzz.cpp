// revuzada.ini of any content, asked for a section and key of any bytes.
//
// Checks: the answer is the default or a value of at most 259 bytes found in the text; asking
// with the section and key in capitals gives the same answer, since case does not matter.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "platform/ini.h"

using namespace revuzada;

namespace {
std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(16);
    const std::string key = in.ConsumeRandomLengthString(16);
    const std::string text = in.ConsumeRemainingBytesAsString();
    const std::string fallback = "\x01 no such value";

    const std::string value = ReadIniStringFromText(text, section, key, fallback);
    if (value != fallback) {
        FUZZ_CHECK(value.size() <= kIniValueLimit);
        FUZZ_CHECK(text.find(value) != std::string::npos);
    }
    FUZZ_CHECK(ReadIniStringFromText(text, Upper(section), Upper(key), fallback) == value);
    return 0;
}
