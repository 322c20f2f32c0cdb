#pragma once

#include <cstdint>
#include <string>

#include "wire.h"

namespace bench {

struct ClientOptions {
    std::string op;               // get | put | notify
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    std::string name;             // get: the file asked for; put: the name stored (".N" added when count > 1)
    std::string contentPath;      // get: what must arrive; put: what is sent
    std::string checkDir;         // put: where the server stores uploads, compared after the run
    int count = 1;                // transfers or queries in all
    int concurrency = 1;          // at once
    int timeoutMs = 1000;         // wait for each answer before sending again
    int retries = 5;              // resends before a transfer counts as failed
    double maxSeconds = 120;      // the whole run stops by then; what is unfinished has failed
};

struct ClientResult {
    std::string op;
    int count = 0;
    std::uint64_t ok = 0;
    std::uint64_t failures = 0;
    std::uint64_t bytes = 0;      // payload moved in transfers that kept lock-step
    std::uint64_t blocks = 0;     // DATA blocks moved (or replies, for queries)
    std::uint64_t resends = 0;    // packets sent again after a time-out or a lost ACK
    double seconds = 0;           // from the first request to the last answer
};

bool RunClient(const ClientOptions& options, ClientResult& result, std::string& error);
std::string ResultJson(const ClientResult& result);

}  // namespace bench
