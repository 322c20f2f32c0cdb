#include "platform/ini.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/files.h"

namespace revuzada {

namespace {

constexpr std::size_t kMaxIniBytes = 1024 * 1024;

std::string_view Trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string ReadIniStringFromText(const std::string& text, const std::string& section,
                                  const std::string& key, const std::string& fallback) {
    bool inSection = false;
    std::string_view rest(text);
    while (!rest.empty()) {
        const auto eol = rest.find('\n');
        std::string_view line = Trim(rest.substr(0, eol));
        rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const auto close = line.find(']');
            inSection = close != std::string_view::npos &&
                        SameIgnoringCase(Trim(line.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos || !SameIgnoringCase(Trim(line.substr(0, eq)), key))
            continue;
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value.substr(0, kIniValueLimit));
    }
    return fallback;
}

std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& fallback) {
    auto text = ReadRegularFile(path, kMaxIniBytes);
    if (!text) return fallback;
    return ReadIniStringFromText(*text, section, key, fallback);
}

}  // namespace revuzada
