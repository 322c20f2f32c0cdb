#include "tftp/packet.h"

#include <algorithm>

namespace revuzada {

std::optional<PacketHeader> ParseHeader(std::span<const std::uint8_t> d) {
    if (d.size() < 4) return std::nullopt;
    return PacketHeader{ReadU16(d.data()), ReadU16(d.data() + 2)};
}

ParsedRequest ParseRequest(std::span<const std::uint8_t> d) {
    ParsedRequest request{ParsedRequest::Kind::TooShort, 0, {}};
    if (d.size() < 2) return request;
    const std::uint16_t opcode = ReadU16(d.data());
    request.kind = ParsedRequest::Kind::Ok;
    request.opcode = static_cast<std::int16_t>(opcode);
    if (opcode != kRrq && opcode != kWrq) {
        request.kind = ParsedRequest::Kind::OtherOpcode;
        return request;
    }
    const auto name = d.subspan(2);
    const auto zero = std::find(name.begin(), name.end(), std::uint8_t{0});
    if (zero == name.end()) {
        request.kind = ParsedRequest::Kind::Unterminated;
        return request;
    }
    request.name.assign(name.begin(), zero);
    return request;
}

std::optional<std::string> ServedRelativePath(std::string_view name) {
    std::string path(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    std::string_view rest(path);
    while (true) {
        const auto slash = rest.find('/');
        if (rest.substr(0, slash) == "..") return std::nullopt;
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    return path;
}

}  // namespace revuzada
