#pragma once
// Datagrams that both transfer targets draw from the fuzzer's input in the same way.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "tftp/packet.h"

namespace revuzada::fuzz {

// Anything a receive can deliver: 0 to 516 bytes.
inline std::vector<std::uint8_t> AnyDatagram(FuzzedDataProvider& in) {
    const auto length = in.ConsumeIntegralInRange<std::size_t>(0, kTftpMaxPacket);
    return in.ConsumeBytes<std::uint8_t>(length);
}

// An ERROR packet with up to 40 bytes of code and text after its opcode.
inline std::vector<std::uint8_t> ErrorDatagram(FuzzedDataProvider& in) {
    auto error = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 40));
    error.insert(error.begin(), {0, kError, 0, 0});
    return error;
}

}  // namespace revuzada::fuzz
