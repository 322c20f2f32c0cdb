// A language pack file of any content, then every text it holds used as the program uses it:
// as a log line's format with the arguments of its catalogue row.
//
// Checks: the loader refuses or loads, never crashes, exhausts the stack or hangs, however
// deep or odd the JSON; numbers stay in range; texts with the wrong conversions, too many or none of them, still
// give a bounded message and a single log line.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "log/catalogue.h"
#include "log/format.h"
#include "log/log.h"

using namespace revuzada;

namespace {

void UseText(std::string_view text) {
    const FormatArg args[] = {FormatArg("127.0.0.1"), FormatArg(-7), FormatArg(4294967295u)};
    const std::string message = FormatText(text, args, 2 * kLogMessageLimit);
    FUZZ_CHECK(message.size() <= 2 * kLogMessageLimit);
    std::tm when{};
    const std::string line = BuildLogLine(when, message);
    FUZZ_CHECK(line.size() <= kLogPrefixLength + kLogMessageLimit);
    FUZZ_CHECK(fuzz::SingleLine(line));
    (void)ConversionKinds(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto pack = ParseLanguagePack({reinterpret_cast<const char*>(data), size});
    if (!pack) return 0;
    for (const auto& [id, text] : pack->strings) UseText(text);
    // Numbers a dialog is laid out with stay in a range no layout arithmetic overflows on.
    auto bounded = [](int v) { return v >= -100000 && v <= 100000; };
    for (const auto& [id, dialog] : pack->dialogs) {
        FUZZ_CHECK(bounded(dialog.width) && bounded(dialog.height));
        for (const auto& c : dialog.controls)
            FUZZ_CHECK(bounded(c.id) && bounded(c.x) && bounded(c.y) && bounded(c.w) && bounded(c.h));
    }
    for (const auto& [id, popups] : pack->menus)
        for (const auto& popup : popups)
            for (const auto& item : popup.items) FUZZ_CHECK(bounded(item.id));
    for (const auto& [id, icon] : pack->icons) FUZZ_CHECK(icon.size() <= size * 3 / 4);
    return 0;
}
