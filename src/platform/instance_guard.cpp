#include "platform/instance_guard.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace revuzada {

bool AcquireInstanceGuard(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    // Abstract namespace: a leading zero byte, then the name (no file is created).
    const std::size_t length = std::min(name.size(), sizeof addr.sun_path - 1);
    std::memcpy(addr.sun_path + 1, name.data(), length);
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), size) != 0) {
        ::close(fd);
        return false;
    }
    return true;  // the socket stays open, and the guard held, until the process ends
}

}  // namespace revuzada
