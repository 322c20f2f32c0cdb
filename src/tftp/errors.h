#pragma once
// TFTP ERROR packets: the eight codes with their fixed texts, and runtime error numbers
// (errno + 100) sent as code 0 with the runtime's text for the number.

#include <array>
#include <cstddef>
#include <cstdint>

#include "tftp/request.h"

namespace revuzada {

struct TftpErrorEntry {
    int code;          // -1 ends the table
    const char* text;
};

extern const TftpErrorEntry g_aTftpErrors[9];

constexpr int kRuntimeErrorBase = 100;
constexpr int kTftpErrorAccessViolation = 2;
constexpr int kTftpErrorDiskFull = 3;
constexpr int kTftpErrorIllegalOperation = 4;

// Builds the ERROR packet for `code` into `packet`; returns its length.
std::size_t BuildTftpError(int code, std::array<std::uint8_t, kTftpMaxPacket>& packet);

// Sends the ERROR packet for `code` on a connected socket; a packet that does not go out whole
// is logged.
void SendTftpError(int socket, int code);

}  // namespace revuzada
