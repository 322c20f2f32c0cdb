#pragma once
// Runs the built program from a temporary directory of its own, as a user would, and reads
// what it prints and logs.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace revuzada::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& content);
// Deterministic pseudo-random content of `size` bytes.
std::string PatternBytes(std::size_t size, std::uint32_t seed = 1);

// A UDP port that was free a moment ago on 127.0.0.1.
std::uint16_t FreeUdpPort();

// Holds `port` on 127.0.0.1 for as long as it lives, as another program would; held() is false
// when the port was taken already.
class HeldUdpPort {
public:
    explicit HeldUdpPort(std::uint16_t port);
    ~HeldUdpPort();
    HeldUdpPort(const HeldUdpPort&) = delete;
    HeldUdpPort& operator=(const HeldUdpPort&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

struct InstallOptions {
    bool withPacks = true;
    std::optional<std::string> ini;  // content of revuzada.ini
};

class ServerProcess {
public:
    // Copies the program and its language packs into `dir`.
    static void Install(const fs::path& dir, const InstallOptions& options = {});

    // Starts `dir`/revuzada with `args`; stdout and stderr go to files in `dir`.
    // `instanceName` is the single-instance guard name (unique per test by default).
    ServerProcess(const fs::path& dir, std::vector<std::string> args,
                  std::string instanceName = {});
    ~ServerProcess();

    // Starts headless on free loopback ports, serving `dir`.
    static std::vector<std::string> HeadlessArgs(std::uint16_t tftpPort, std::uint16_t notifyPort);

    pid_t pid() const { return pid_; }
    std::string Stdout() const;
    std::string Stderr() const;
    std::string LogFile() const;  // revuzada.log beside the program
    bool WaitForStdout(const std::string& text, std::chrono::milliseconds limit = 5s) const;
    // Waits until stdout holds `text` at least `times` times.
    bool WaitForStdoutCount(const std::string& text, std::size_t times,
                            std::chrono::milliseconds limit = 10s) const;
    void Signal(int signal);
    // Exit status, or nullopt if the process had not ended within `limit`.
    std::optional<int> WaitExit(std::chrono::milliseconds limit = 5s);

private:
    fs::path dir_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// How often `what` occurs in `text`.
std::size_t Count(const std::string& text, const std::string& what);

// A test's own instance name for the single-instance guard.
std::string UniqueInstanceName();

// Runs a shell command; returns its exit status.
int Shell(const std::string& command);

}  // namespace revuzada::test
