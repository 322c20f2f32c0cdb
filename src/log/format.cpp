#include "log/format.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace revuzada {

namespace {

// One conversion: %[flags][width][.precision][length]conversion
struct Spec {
    std::string flags;
    int width = -1;
    int precision = -1;
    char conversion = 0;
    bool starUsed = false;
    std::size_t end = 0;  // index just past the conversion letter
};

constexpr int kMaxField = 1024;  // widths and precisions beyond this are clamped

bool ParseSpec(std::string_view f, std::size_t start, Spec& spec) {
    std::size_t i = start + 1;
    while (i < f.size() && std::string_view("-+ #0'").find(f[i]) != std::string_view::npos)
        spec.flags += f[i++];
    auto number = [&](int& out) {
        if (i < f.size() && f[i] == '*') { spec.starUsed = true; ++i; return; }
        int v = -1;
        while (i < f.size() && std::isdigit(static_cast<unsigned char>(f[i]))) {
            v = std::min((v < 0 ? 0 : v) * 10 + (f[i] - '0'), kMaxField);
            ++i;
        }
        out = v;
    };
    number(spec.width);
    if (i < f.size() && f[i] == '.') {
        ++i;
        spec.precision = 0;
        number(spec.precision);
        if (spec.precision < 0) spec.precision = 0;
    }
    while (i < f.size() && std::string_view("hlLqjzt").find(f[i]) != std::string_view::npos) ++i;
    if (i >= f.size()) return false;
    spec.conversion = f[i];
    spec.end = i + 1;
    return true;
}

void Pad(std::string& out, std::string_view body, const Spec& spec) {
    const std::size_t width = spec.width > 0 ? static_cast<std::size_t>(spec.width) : 0;
    const std::size_t fill = width > body.size() ? width - body.size() : 0;
    const bool left = spec.flags.find('-') != std::string::npos;
    if (!left) out.append(fill, ' ');
    out += body;
    if (left) out.append(fill, ' ');
}

void FormatNumber(std::string& out, const Spec& spec, const FormatArg& arg) {
    std::string fmt = "%" + spec.flags;
    fmt.erase(std::remove(fmt.begin(), fmt.end(), '\''), fmt.end());
    if (spec.width >= 0) fmt += std::to_string(spec.width);
    if (spec.precision >= 0) fmt += "." + std::to_string(spec.precision);
    char buf[2 * kMaxField + 64];
    const char c = spec.conversion;
    if (c == 'c') {
        char ch = static_cast<char>(arg.number);
        if (ch == 0) ch = ' ';
        Pad(out, std::string_view(&ch, 1), spec);
        return;
    }
    if (c == 'd' || c == 'i') {
        // A value passed unsigned but printed signed shows as its 32-bit signed reading, as
        // a C caller passing the same 32-bit value would see it.
        long long v = arg.kind == FormatArg::Kind::Unsigned && arg.number <= 0xFFFFFFFFLL
                          ? static_cast<std::int32_t>(static_cast<std::uint32_t>(arg.number))
                          : arg.number;
        std::snprintf(buf, sizeof buf, (fmt + "lld").c_str(), v);
    } else {
        unsigned long long v = arg.kind == FormatArg::Kind::Signed && arg.number < 0 &&
                                       arg.number >= INT32_MIN
                                   ? static_cast<std::uint32_t>(static_cast<std::int32_t>(arg.number))
                                   : static_cast<unsigned long long>(arg.number);
        std::snprintf(buf, sizeof buf, (fmt + "ll" + c).c_str(), v);
    }
    out += buf;
}

}  // namespace

std::string FormatText(std::string_view f, std::span<const FormatArg> args, std::size_t limit) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < f.size() && out.size() < limit;) {
        if (f[i] != '%') {
            const std::size_t pct = std::min(f.find('%', i), f.size());
            out.append(f.substr(i, pct - i));
            i = pct;
            continue;
        }
        Spec spec;
        if (!ParseSpec(f, i, spec)) {  // a lone '%' at the end
            out.append(f.substr(i));
            break;
        }
        const std::string_view whole = f.substr(i, spec.end - i);
        i = spec.end;
        const char c = spec.conversion;
        if (c == '%') { out += '%'; continue; }
        const bool known = std::string_view("sdiuxXoc").find(c) != std::string_view::npos;
        if (!known || spec.starUsed) { out.append(whole); continue; }
        if (next >= args.size()) continue;
        const FormatArg& arg = args[next++];
        if (c == 's' || arg.kind == FormatArg::Kind::String) {
            std::string body;
            if (arg.kind == FormatArg::Kind::String) {
                body = arg.text;
            } else if (arg.kind == FormatArg::Kind::Signed) {
                body = std::to_string(arg.number);
            } else {
                body = std::to_string(static_cast<unsigned long long>(arg.number));
            }
            if (c == 's' && spec.precision >= 0 && body.size() > static_cast<std::size_t>(spec.precision))
                body.resize(static_cast<std::size_t>(spec.precision));
            Pad(out, body, spec);
        } else {
            FormatNumber(out, spec, arg);
        }
    }
    if (out.size() > limit) out.resize(limit);
    return out;
}

std::string ConversionKinds(std::string_view f) {
    std::string kinds;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%') continue;
        Spec spec;
        if (!ParseSpec(f, i, spec)) { kinds += '?'; break; }
        i = spec.end - 1;
        const char c = spec.conversion;
        if (c == '%') continue;
        if (spec.starUsed) kinds += '?';
        else if (c == 's') kinds += 's';
        else if (c == 'd' || c == 'i') kinds += 'i';
        else if (c == 'u' || c == 'x' || c == 'X' || c == 'o') kinds += 'u';
        else kinds += '?';
    }
    return kinds;
}

}  // namespace revuzada
