#pragma once

#include <string>

namespace revuzada {

// Machine-wide single-instance guard: an abstract Unix socket of the given name, held open
// until the process ends, so the system drops it with the process even after SIGKILL.
// Returns false when another process holds it (or it cannot be created).
bool AcquireInstanceGuard(const std::string& name);

}  // namespace revuzada
