#pragma once

#include <cstdint>
#include <string>

#include "wire.h"

namespace bench {

struct ResponderOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    std::string dir;       // every regular file in it is served from memory
    bool threads = false;  // a thread per transfer instead of one epoll loop
};

// Serves until SIGTERM or SIGINT; 0 then.
int RunResponder(const ResponderOptions& options);

}  // namespace bench
