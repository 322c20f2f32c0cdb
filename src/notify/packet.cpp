#include "notify/packet.h"

#include <algorithm>

namespace revuzada {

namespace {

std::uint32_t ReadLe32(std::span<const std::uint8_t> b) {
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void WriteLe32(std::uint8_t* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::optional<NotifyPacket> ReadNotifyPacket(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kNotifyMinimumSize || bytes.size() > kNotifyPacketSize) return std::nullopt;
    NotifyPacket packet;
    std::copy_n(bytes.begin(), 4, packet.magic.begin());
    packet.type = ReadLe32(bytes.subspan(4, 4));
    packet.value = static_cast<std::int32_t>(ReadLe32(bytes.subspan(8, 4)));
    const auto rest = bytes.subspan(kNotifyMinimumSize);
    std::copy(rest.begin(), rest.end(), packet.reserved.begin());
    return packet;
}

NotifyBytes WriteNotifyPacket(const NotifyPacket& packet) {
    NotifyBytes out{};
    std::copy(packet.magic.begin(), packet.magic.end(), out.begin());
    WriteLe32(out.data() + 4, packet.type);
    WriteLe32(out.data() + 8, static_cast<std::uint32_t>(packet.value));
    std::copy(packet.reserved.begin(), packet.reserved.end(), out.begin() + kNotifyMinimumSize);
    return out;
}

}  // namespace revuzada
