#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace revuzada {

constexpr int kSocketCreateFailed = -5;
constexpr int kSocketBindFailed = -10;

// An IPv4 UDP socket bound to `port` on `address` (network order; INADDR_ANY for every
// interface), without address reuse, so binding fails while another socket holds the port.
// Returns the socket, kSocketCreateFailed or kSocketBindFailed.
int OpenUdpPort(std::uint16_t port, bool nonBlocking, in_addr_t address = htonl(INADDR_ANY));

// A listener's port, non-blocking. When it cannot be opened the service cannot run: the
// message `failureTextId` is shown (caption "msg"), the log list goes to the log file and the
// process ends with status 0.
int OpenServicePortOrEnd(std::uint16_t port, in_addr_t address, int failureTextId);

// Dotted decimal form of an IPv4 address.
std::string DottedAddress(const sockaddr_in& address);

// Waits up to `timeoutMs` for `fd` to become readable: 1 readable, 0 timed out, -1 failed
// (errno set).
int WaitReadable(int fd, int timeoutMs);

}  // namespace revuzada
