#include "support/server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace revuzada::test {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "revuzada-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string PatternBytes(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    std::minstd_rand rng(seed);
    for (auto& b : bytes) b = static_cast<char>(rng() & 0xFF);
    return bytes;
}

std::uint16_t FreeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

HeldUdpPort::HeldUdpPort(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

HeldUdpPort::~HeldUdpPort() {
    if (fd_ >= 0) ::close(fd_);
}

std::string UniqueInstanceName() {
    static std::atomic<int> counter{0};
    return "revuzada-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ServerProcess::Install(const fs::path& dir, const InstallOptions& options) {
    const fs::path bin = REVUZADA_BIN_DIR;
    fs::copy_file(bin / "revuzada", dir / "revuzada", fs::copy_options::overwrite_existing);
    if (options.withPacks) {
        for (const char* pack : {"rc_cn.dll", "rc_en.dll"})
            fs::copy_file(bin / pack, dir / pack, fs::copy_options::overwrite_existing);
    }
    if (options.ini) WriteFile(dir / "revuzada.ini", *options.ini);
}

std::vector<std::string> ServerProcess::HeadlessArgs(std::uint16_t tftpPort,
                                                     std::uint16_t notifyPort) {
    return {"--headless", "--bind", "127.0.0.1", "--tftp-port", std::to_string(tftpPort),
            "--notify-port", std::to_string(notifyPort)};
}

ServerProcess::ServerProcess(const fs::path& dir, std::vector<std::string> args,
                             std::string instanceName)
    : dir_(dir) {
    if (instanceName.empty()) instanceName = UniqueInstanceName();
    const std::string out = (dir / "stdout.txt").string();
    const std::string err = (dir / "stderr.txt").string();
    const std::string program = (dir / "revuzada").string();
    WriteFile(out, "");  // before the child exists, so nothing of an earlier run is read
    WriteFile(err, "");
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setenv("REVUZADA_INSTANCE_NAME", instanceName.c_str(), 1);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string ServerProcess::Stdout() const { return ReadFile(dir_ / "stdout.txt"); }
std::string ServerProcess::Stderr() const { return ReadFile(dir_ / "stderr.txt"); }
std::string ServerProcess::LogFile() const { return ReadFile(dir_ / "revuzada.log"); }

bool ServerProcess::WaitForStdout(const std::string& text, std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (Stdout().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(20ms);
    }
    return Stdout().find(text) != std::string::npos;
}

bool ServerProcess::WaitForStdoutCount(const std::string& text, std::size_t times,
                                       std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Count(Stdout(), text) < times) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

void ServerProcess::Signal(int signal) { ::kill(pid_, signal); }

std::optional<int> ServerProcess::WaitExit(std::chrono::milliseconds limit) {
    if (status_) return status_;
    const auto end = std::chrono::steady_clock::now() + limit;
    do {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < end);
    return std::nullopt;
}

}  // namespace revuzada::test
