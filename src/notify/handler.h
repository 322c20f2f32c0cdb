#pragma once
// What the notification service does with one datagram, apart from the socket that carries it:
// DecideNotify takes the received bytes and says what to answer and what to log; HandleNotify
// carries that out on the listener's socket.

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "notify/packet.h"

namespace revuzada {

constexpr const char* kImageFileName = "fwpack.img";

struct NotifyAction {
    std::optional<NotifyBytes> reply;  // sent to the sender, before the line is logged
    std::string logText;               // a finished line, logged as it stands
};

// True when `path` opens for reading as a regular file. It is closed at once and nothing is
// read. The open never waits: a FIFO or device of that name does not hold the listener up.
bool ImageOpens(const std::string& path);

// One received datagram, exactly the bytes received:
//   over kNotifyPacketSize bytes    a receive failure (EMSGSIZE), no reply;
//   under kNotifyMinimumSize bytes, or without the magic    "not recognised", no reply;
//   type 0                          a reply saying whether `imagePath` opens, then its line;
//   any other type                  its line only.
// Lines are catalogue texts formatted with the sender's dotted address and the datagram's
// numbers; the type is compared as an unsigned number.
NotifyAction DecideNotify(std::span<const std::uint8_t> received, std::string_view senderAddress,
                          const std::string& imagePath);

// Decides, sends the reply (if any) through `socket` to `sender`, whatever becomes of the send,
// then logs the line as text. Always 0.
int HandleNotify(int socket, const sockaddr_in& sender, std::span<const std::uint8_t> received,
                 const std::string& imagePath);

}  // namespace revuzada
