#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace revuzada {

struct NotifyListenerConfig {
    std::uint16_t port = 9978;
    in_addr_t address = htonl(INADDR_ANY);  // network order
    std::string imagePath;                  // fwpack.img beside the executable
};

// The notification listener: opens port `config.port` and handles one datagram at a time
// (HandleNotify) until `stop` is set, which it tests at least once a second; then closes the
// port and returns 0. A port that cannot be opened ends the process after its message.
int NotifyListenThread(const std::atomic<int>& stop, const NotifyListenerConfig& config);

}  // namespace revuzada
