#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace revuzada {

std::string ExecutablePath() {
    char buf[PATH_MAX];
    if (char* real = realpath("/proc/self/exe", buf)) return real;
    return {};
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string LogFilePathFor(const std::string& executablePath) {
    const auto slash = executablePath.rfind('/');
    const auto dot = executablePath.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    if (!hasExtension) return executablePath + ".log";
    return executablePath.substr(0, dot + 1) + "log";
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> result;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::size_t>(st.st_size) <= maxBytes) {
        std::string content;
        char buf[65536];
        bool ok = true;
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0) { ok = false; break; }
            if (n == 0) break;
            content.append(buf, static_cast<std::size_t>(n));
            if (content.size() > maxBytes) { ok = false; break; }
        }
        if (ok) result = std::move(content);
    }
    ::close(fd);
    return result;
}

std::optional<std::string> AbsoluteDirectory(const std::string& path) {
    if (path.empty()) return std::nullopt;
    char buf[PATH_MAX];
    if (!realpath(path.c_str(), buf)) return std::nullopt;
    struct stat st {};
    if (::stat(buf, &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    std::string dir = buf;
    if (dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace revuzada
