#include "tftp/errors.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "log/catalogue.h"
#include "log/log.h"
#include "pack/language_pack.h"
#include "tftp/packet.h"

namespace revuzada {

const TftpErrorEntry g_aTftpErrors[9] = {
    {0, "Undefined error code"},
    {1, "File not found"},
    {2, "Access violation"},
    {3, "Disk full or allocation exceeded"},
    {4, "Illegal TFTP operation"},
    {5, "Unknown transfer ID"},
    {6, "File already exists"},
    {7, "No such user"},
    {-1, nullptr},
};

std::size_t BuildTftpError(int code, std::array<std::uint8_t, kTftpMaxPacket>& packet) {
    const TftpErrorEntry* row = g_aTftpErrors;
    while (row->code >= 0 && row->code != code) ++row;

    char runtimeText[256];
    const char* text = row->text;
    std::uint16_t wireCode = static_cast<std::uint16_t>(code);
    if (row->code < 0) {
        // strerror_r (GNU form) gives this thread its own text, whatever other threads do.
        text = strerror_r(code - kRuntimeErrorBase, runtimeText, sizeof runtimeText);
        wireCode = 0;
    }
    const std::size_t length = std::min(std::strlen(text), packet.size() - 5);
    WriteU16(packet.data(), kError);
    WriteU16(packet.data() + 2, wireCode);
    std::memcpy(packet.data() + 4, text, length);
    packet[4 + length] = 0;
    return length + 5;
}

void SendTftpError(int socket, int code) {
    std::array<std::uint8_t, kTftpMaxPacket> packet;
    const std::size_t length = BuildTftpError(code, packet);
    const ssize_t sent = ::send(socket, packet.data(), length, 0);
    if (sent != static_cast<ssize_t>(length)) LogEvent(LoadText(IDS_ERRSEND_FAILED), errno);
}

}  // namespace revuzada
