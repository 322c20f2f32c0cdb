#pragma once

#include <string>

namespace revuzada {

constexpr std::size_t kIniValueLimit = 259;

// One value of an INI file. Section and key match without regard to case; the default comes
// back when the file, the section or the key is missing; a key present with an empty value
// gives ""; a value is cut to kIniValueLimit characters.
std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& fallback);

// The same rules, on the text of a file.
std::string ReadIniStringFromText(const std::string& text, const std::string& section,
                                  const std::string& key, const std::string& fallback);

}  // namespace revuzada
