#include "app/options.h"

#include <arpa/inet.h>

#include <charconv>

#include "platform/files.h"

namespace revuzada {

namespace {

std::optional<long> ParseNumber(const std::string& text, long min, long max) {
    long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max)
        return std::nullopt;
    return value;
}

}  // namespace

std::string UsageText(const std::string& program) {
    return "Usage: " + program + " [options]\n"
           "TFTP server (downloads and uploads in one served directory) with a device\n"
           "notification service. Without options it opens its window.\n"
           "\n"
           "  --headless          run without a window; every log line is also printed here\n"
           "  --tftp-port N       UDP port for TFTP requests (default 69)\n"
           "  --notify-port N     UDP port for device notifications (default 9978)\n"
           "  --bind ADDRESS      IPv4 address to listen on (default: every interface)\n"
           "  --serve-dir DIR     served directory (default: the executable's directory)\n"
           "  --timeout SECONDS   wait for each packet of a transfer (default 5)\n"
           "  --retries N         resends before a silent client is given up (default 5)\n"
           "  --help              show this text\n";
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
    Options o;
    auto fail = [](std::string error) { return ParsedOptions{std::nullopt, std::move(error)}; };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        if (name == "--headless" || name == "--help" || name == "-h") {
            if (inlineValue) return fail(name + " takes no value");
            (name == "--headless" ? o.headless : o.help) = true;
            continue;
        }
        if (name != "--tftp-port" && name != "--notify-port" && name != "--bind" &&
            name != "--serve-dir" && name != "--timeout" && name != "--retries")
            return fail("unknown option '" + args[i] + "'");
        auto v = value();
        if (!v) return fail(name + " needs a value");
        if (name == "--tftp-port" || name == "--notify-port") {
            auto port = ParseNumber(*v, 1, 65535);
            if (!port) return fail(name + ": '" + *v + "' is not a port number (1-65535)");
            (name == "--tftp-port" ? o.tftpPort : o.notifyPort) = static_cast<std::uint16_t>(*port);
        } else if (name == "--bind") {
            in_addr address{};
            if (::inet_pton(AF_INET, v->c_str(), &address) != 1)
                return fail("--bind: '" + *v + "' is not an IPv4 address");
            o.bindAddress = address.s_addr;
        } else if (name == "--serve-dir") {
            auto dir = AbsoluteDirectory(*v);
            if (!dir) return fail("--serve-dir: '" + *v + "' is not an existing directory");
            o.serveDir = *dir;
        } else if (name == "--timeout") {
            auto seconds = ParseNumber(*v, 1, 3600);
            if (!seconds) return fail("--timeout: '" + *v + "' is not a number of seconds (1-3600)");
            o.timeoutSeconds = static_cast<int>(*seconds);
        } else {
            auto retries = ParseNumber(*v, 0, 100);
            if (!retries) return fail("--retries: '" + *v + "' is not a count (0-100)");
            o.retries = static_cast<int>(*retries);
        }
    }
    if (o.tftpPort == o.notifyPort)
        return fail("--tftp-port and --notify-port must differ");
    return {o, {}};
}

}  // namespace revuzada
