#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace revuzada {

struct Options {
    bool headless = false;
    bool help = false;
    std::uint16_t tftpPort = 69;
    std::uint16_t notifyPort = 9978;
    in_addr_t bindAddress = htonl(INADDR_ANY);  // network order
    std::string serveDir;                        // absolute, ending in '/'; empty: the executable's
    int timeoutSeconds = 5;
    int retries = 5;
};

struct ParsedOptions {
    std::optional<Options> options;  // nullopt: `error` says what is wrong
    std::string error;
};

ParsedOptions ParseOptions(const std::vector<std::string>& args);
std::string UsageText(const std::string& program);

}  // namespace revuzada
