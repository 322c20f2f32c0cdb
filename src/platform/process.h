#pragma once

namespace revuzada {

// Ends the process at once with `status`, after flushing the standard streams. Used where a
// service cannot run and the program must end from a worker thread: nothing that other threads
// may still be using is torn down.
[[noreturn]] void EndProcess(int status);

}  // namespace revuzada
