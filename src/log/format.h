#pragma once
// printf-style formatting of catalogue texts with typed arguments.
//
// Catalogue texts come from a language pack that a user can edit, so a text is never handed
// to the C library as a format: each conversion takes the next typed argument, a conversion
// that does not fit its argument prints the argument as it is, and a text asking for more
// arguments than it was given prints nothing for the missing ones. No text can read memory
// it was not given or write anywhere (%n is printed literally).

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace revuzada {

struct FormatArg {
    enum class Kind { String, Signed, Unsigned } kind;
    std::string_view text;
    std::int64_t number = 0;

    FormatArg(std::string_view s) : kind(Kind::String), text(s) {}
    FormatArg(const std::string& s) : kind(Kind::String), text(s) {}
    FormatArg(const char* s) : kind(Kind::String), text(s ? s : "") {}
    template <std::signed_integral T>
    FormatArg(T n) : kind(Kind::Signed), number(n) {}
    template <std::unsigned_integral T>
    FormatArg(T n) : kind(Kind::Unsigned), number(static_cast<std::int64_t>(n)) {}
};

// Formats `format` with `args`. The result is cut at `limit` bytes.
std::string FormatText(std::string_view format, std::span<const FormatArg> args,
                       std::size_t limit = 4096);

// The conversions of a format, one letter each as in CatalogueEntry::args ('s', 'i', 'u';
// '?' for a conversion that takes no known argument kind, such as %n, %p, %f or a '*' width).
std::string ConversionKinds(std::string_view format);

}  // namespace revuzada
