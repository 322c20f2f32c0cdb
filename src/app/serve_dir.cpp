#include "app/serve_dir.h"

#include <mutex>

namespace revuzada {

namespace {
std::mutex g_lock;
std::string& Dir() {
    static std::string* dir = new std::string;  // never destroyed: transfers may outlive main
    return *dir;
}
}  // namespace

void SetServeDir(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    std::lock_guard guard(g_lock);
    Dir() = std::move(dir);
}

std::string ServeDir() {
    std::lock_guard guard(g_lock);
    return Dir();
}

}  // namespace revuzada
