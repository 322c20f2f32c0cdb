#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "tftp/request.h"

namespace revuzada {

struct TftpListenerConfig {
    std::uint16_t port = 69;
    in_addr_t address = htonl(INADDR_ANY);
    std::string serveDir;     // absolute, ending in '/'
    std::string logFilePath;
    TransferLimits limits;
};

// The request listener: attaches the event log, sets the served directory, opens the log file,
// then port `config.port`. Each datagram becomes a TftpRequest for a transfer thread of its
// own. Polls `stop` at least once a second; when it is set, closes the log file and the port
// and returns 0. A port that cannot be opened ends the process after its message.
int TftpListenThread(const std::atomic<int>& stop, const TftpListenerConfig& config);

// Serves one request on a thread of its own (detached); the thread owns the record.
void StartTransferThread(std::unique_ptr<TftpRequest> request, const TransferLimits& limits);

}  // namespace revuzada
