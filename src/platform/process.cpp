#include "platform/process.h"

#include <unistd.h>

#include <cstdio>

namespace revuzada {

void EndProcess(int status) {
    std::fflush(nullptr);
    ::_exit(status);
}

}  // namespace revuzada
