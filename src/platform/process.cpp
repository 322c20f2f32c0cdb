#include "platform/process.h"

#include <unistd.h>

#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#define REVUZADA_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REVUZADA_LEAK_CHECK 1
#endif
#endif

#ifdef REVUZADA_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace revuzada {

void EndProcess(int status) {
    std::fflush(nullptr);
#ifdef REVUZADA_LEAK_CHECK
    // _exit skips the sanitizer's own check at exit; what running transfers hold is still
    // reachable from their stacks, so only memory nothing points to is reported.
    __lsan_do_leak_check();
#endif
    ::_exit(status);
}

}  // namespace revuzada
