// FormatText with a hostile format (a language pack text a user edited, or worse) and up to
// five typed arguments, then the log line built from the message.
//
// Checks: the message never exceeds its limit; %n writes nothing and no conversion reads an
// argument it was not given (AddressSanitizer); the log line is one line of at most 1023
// bytes that starts with its time stamp; the list of conversions is found for any format.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "log/format.h"
#include "log/log.h"

using namespace revuzada;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::size_t limit = in.ConsumeIntegralInRange<std::size_t>(0, 2 * kLogMessageLimit);
    std::vector<std::string> texts;  // storage for string arguments, kept while they are used
    texts.reserve(5);
    std::vector<FormatArg> args;
    for (int n = in.ConsumeIntegralInRange(0, 5); n > 0; --n) {
        switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0:
            texts.push_back(in.ConsumeRandomLengthString(600));
            args.emplace_back(std::string_view(texts.back()));
            break;
        case 1:
            args.emplace_back(in.ConsumeIntegral<std::int64_t>());
            break;
        case 2:
            args.emplace_back(in.ConsumeIntegral<std::uint32_t>());
            break;
        }
    }
    const std::string format = in.ConsumeRemainingBytesAsString();

    const std::string message = FormatText(format, args, limit);
    FUZZ_CHECK(message.size() <= limit);
    (void)ConversionKinds(format);

    std::tm when{};
    when.tm_year = 99;
    when.tm_mon = 11;
    when.tm_mday = 31;
    when.tm_hour = 23;
    when.tm_min = 59;
    when.tm_sec = 59;
    const std::string line = BuildLogLine(when, message);
    FUZZ_CHECK(line.compare(0, kLogPrefixLength, "[1999-12-31 23:59:59] ") == 0);
    FUZZ_CHECK(line.size() <= kLogPrefixLength + kLogMessageLimit);
    FUZZ_CHECK(fuzz::SingleLine(line));
    return 0;
}
