// A request datagram as the listener hands it on (at most 516 bytes), through the parser, the
// name rules and the log line that names it.
//
// Checks: nothing past the received bytes is read (AddressSanitizer sees the copy below end
// exactly there); a name is exactly the bytes up to the first zero; a name that is served is
// the requested one with '\' as '/' and stays inside the served directory however it is
// resolved; a refused name really has a ".." component; the log line naming it is one line.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "log/catalogue.h"
#include "log/format.h"
#include "log/log.h"
#include "tftp/packet.h"
#include "tftp/request.h"

using namespace revuzada;

namespace {

bool HasDotDotComponent(const std::string& path) {
    std::size_t start = 0;
    for (;;) {
        const auto slash = path.find('/', start);
        if (path.compare(start, slash == std::string::npos ? std::string::npos : slash - start, "..") == 0)
            return true;
        if (slash == std::string::npos) return false;
        start = slash + 1;
    }
}

void CheckServedName(const std::string& name) {
    const auto relative = ServedRelativePath(name);
    std::string slashed = name;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    if (!relative) {
        FUZZ_CHECK(HasDotDotComponent(slashed));
        return;
    }
    FUZZ_CHECK(*relative == slashed);
    FUZZ_CHECK(!HasDotDotComponent(*relative));
    // However the path is read (".", "//", a leading '/'), it stays below the served directory.
    const auto full = std::filesystem::path("/srv/served/" + *relative).lexically_normal();
    FUZZ_CHECK(full.string().rfind("/srv/served/", 0) == 0);
}

void CheckLogLine(const std::string& name) {
    const FormatArg args[] = {FormatArg(name)};
    const std::string message = FormatText(LoadText(IDS_ACCESS_DENIED), args, 2 * kLogMessageLimit);
    std::tm when{};
    when.tm_year = 124;
    when.tm_mday = 1;
    const std::string line = BuildLogLine(when, message);
    FUZZ_CHECK(fuzz::SingleLine(line));
    FUZZ_CHECK(line.size() <= kLogPrefixLength + kLogMessageLimit);
    FUZZ_CHECK(line.compare(0, kLogPrefixLength, "[2024-01-01 00:00:00] ") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InstallEnglishPack();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kTftpMaxPacket) return -1;  // the listener refuses longer datagrams unread
    // Exactly the received bytes, in a buffer of their own size: a read past them is caught.
    auto received = std::make_unique<std::uint8_t[]>(size);
    if (size) std::memcpy(received.get(), data, size);
    const ParsedRequest request = ParseRequest({received.get(), size});

    using Kind = ParsedRequest::Kind;
    if (size < 2) {
        FUZZ_CHECK(request.kind == Kind::TooShort);
        return 0;
    }
    const auto opcode = static_cast<std::uint16_t>((data[0] << 8) | data[1]);
    FUZZ_CHECK(request.opcode == static_cast<std::int16_t>(opcode));
    const auto* nameStart = data + 2;
    const auto* zero = static_cast<const std::uint8_t*>(std::memchr(nameStart, 0, size - 2));
    if (opcode != kRrq && opcode != kWrq) {
        FUZZ_CHECK(request.kind == Kind::OtherOpcode);
    } else if (!zero) {
        FUZZ_CHECK(request.kind == Kind::Unterminated);
    } else {
        FUZZ_CHECK(request.kind == Kind::Ok);
        FUZZ_CHECK(request.name == std::string(reinterpret_cast<const char*>(nameStart),
                                               static_cast<std::size_t>(zero - nameStart)));
        CheckServedName(request.name);
        CheckLogLine(request.name);
    }
    return 0;
}
