// revuzada_bench_client: the benchmark's load client and reference responder.
//
//   revuzada_bench_client get    --port P --name NAME --content FILE [--count N] [--concurrency K]
//   revuzada_bench_client put    --port P --name NAME --content FILE [--check-dir DIR] [...]
//   revuzada_bench_client notify --port P [--count N] [--concurrency K]
//   revuzada_bench_client respond --port P --dir DIR [--threads]
//
// Common: --host ADDR (127.0.0.1), --timeout-ms MS (1000), --retries N (5), --max-seconds S (120).
// A load run prints one JSON line with its figures and exits 0 when every transfer succeeded.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "load_client.h"
#include "responder.h"

namespace {

int Usage(const char* why) {
    std::fprintf(stderr, "revuzada_bench_client: %s\n"
                         "usage: revuzada_bench_client get|put|notify|respond --port P [options]\n", why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no command");
    const std::string command = argv[1];
    bench::ClientOptions client;
    bench::ResponderOptions responder;
    client.op = command;
    for (int i = 2; i < argc; ++i) {
        const std::string key = argv[i];
        if (key == "--threads") {
            responder.threads = true;
            continue;
        }
        if (i + 1 >= argc) return Usage(("no value for " + key).c_str());
        const std::string value = argv[++i];
        if (key == "--host") client.host = responder.host = value;
        else if (key == "--port") client.port = responder.port = static_cast<std::uint16_t>(std::atoi(value.c_str()));
        else if (key == "--name") client.name = value;
        else if (key == "--content") client.contentPath = value;
        else if (key == "--check-dir") client.checkDir = value;
        else if (key == "--count") client.count = std::atoi(value.c_str());
        else if (key == "--concurrency") client.concurrency = std::atoi(value.c_str());
        else if (key == "--timeout-ms") client.timeoutMs = std::atoi(value.c_str());
        else if (key == "--retries") client.retries = std::atoi(value.c_str());
        else if (key == "--max-seconds") client.maxSeconds = std::atof(value.c_str());
        else if (key == "--dir") responder.dir = value;
        else return Usage(("unknown option " + key).c_str());
    }
    if (client.port == 0) return Usage("--port is needed");
    if (command == "respond") {
        if (responder.dir.empty()) return Usage("--dir is needed");
        return bench::RunResponder(responder);
    }
    if (command != "get" && command != "put" && command != "notify") return Usage("unknown command");
    if (command != "notify" && (client.name.empty() || client.contentPath.empty()))
        return Usage("--name and --content are needed");
    if (client.count < 1 || client.concurrency < 1 || client.timeoutMs < 1 || client.retries < 0 ||
        client.maxSeconds <= 0)
        return Usage("counts, time-outs and limits must be positive");
    bench::ClientResult result;
    std::string error;
    if (!bench::RunClient(client, result, error)) {
        std::fprintf(stderr, "revuzada_bench_client: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", bench::ResultJson(result).c_str());
    return result.failures == 0 ? 0 : 1;
}
