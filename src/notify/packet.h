#pragma once
// The notification datagram: 20 bytes, every integer little-endian whatever the host's order.
//
//   offset 0   4 bytes  magic     "NQVZ" (4E 51 56 5A)
//   offset 4   4 bytes  type      unsigned 32-bit
//   offset 8   4 bytes  value     signed 32-bit
//   offset 12  8 bytes  reserved  never read; zero in a reply

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace revuzada {

constexpr std::size_t kNotifyPacketSize = 20;
// magic, type and value: the bytes a datagram must carry to be read at all.
constexpr std::size_t kNotifyMinimumSize = 12;
constexpr std::array<std::uint8_t, 4> kNotifyMagic = {0x4E, 0x51, 0x56, 0x5A};

using NotifyBytes = std::array<std::uint8_t, kNotifyPacketSize>;

struct NotifyPacket {
    std::array<std::uint8_t, 4> magic{};
    std::uint32_t type = 0;
    std::int32_t value = 0;
    std::array<std::uint8_t, 8> reserved{};

    bool HasMagic() const { return magic == kNotifyMagic; }
};

// Reads the received bytes, and only those: nullopt when there are fewer than
// kNotifyMinimumSize or more than kNotifyPacketSize. Reserved bytes the datagram did not carry
// read as zero.
std::optional<NotifyPacket> ReadNotifyPacket(std::span<const std::uint8_t> bytes);

NotifyBytes WriteNotifyPacket(const NotifyPacket& packet);

}  // namespace revuzada
