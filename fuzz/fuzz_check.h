#pragma once
// What every fuzz target shares: a check that stops the run with the failed condition, and the
// English language pack, installed once, so that texts read as they do for a user.

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "pack/language_pack.h"

#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,      \
                         #condition);                                                  \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

namespace revuzada::fuzz {

inline void InstallEnglishPack() {
    static const bool installed = [] {
        auto pack = LoadLanguagePack(REVUZADA_SOURCE_DIR "/res/rc_en.json");
        FUZZ_CHECK(pack.has_value());
        InstallLanguagePack(std::move(*pack));
        return true;
    }();
    (void)installed;
}

// True when `line` holds no byte that would end or split a line in a log file or a terminal.
inline bool SingleLine(std::string_view line) {
    for (unsigned char c : line)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

}  // namespace revuzada::fuzz
