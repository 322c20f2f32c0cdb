#include "tftp/udp.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "log/log.h"
#include "pack/language_pack.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace revuzada {

int OpenUdpPort(std::uint16_t port, bool nonBlocking, in_addr_t address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0) return kSocketCreateFailed;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return kSocketBindFailed;
    }
    return fd;
}

int OpenServicePortOrEnd(std::uint16_t port, in_addr_t address, int failureTextId) {
    const int fd = OpenUdpPort(port, true, address);
    if (fd >= 0) return fd;
    ShowMessageBox(std::string(LoadText(failureTextId)), "msg");
    FlushLogList();
    CloseLogFile();
    EndProcess(0);
}

std::string DottedAddress(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

int WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0) return -1;
    return r == 0 ? 0 : 1;
}

}  // namespace revuzada
