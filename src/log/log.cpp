#include "log/log.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "log/catalogue.h"
#include "pack/language_pack.h"

namespace revuzada {

namespace {

struct EventLog {
    std::mutex lock;
    // Read without the lock on every line, written under it.
    std::atomic<bool> attached{false};  // lines are kept from AttachLog on
    std::atomic<bool> echo{false};
    bool viewAlive = true;      // lines go to the list until the view is detached
    std::FILE* file = nullptr;
    std::vector<std::string> lines;
    std::uint64_t epoch = 0;
    std::function<void()> observer;
};

// Never destroyed: detached transfer threads may still log while the process ends.
EventLog& Log() {
    static EventLog* log = new EventLog;
    return *log;
}

void WriteLine(std::FILE* file, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fwrite("\r\n", 1, 2, file);
}

void FlushLocked(EventLog& log) {
    if (!log.file || log.lines.empty()) return;
    for (const std::string& line : log.lines) WriteLine(log.file, line);
    std::fflush(log.file);
}

void EmptyLocked(EventLog& log) {
    log.lines.clear();
    ++log.epoch;
}

void Notify(EventLog& log) {
    if (log.observer) log.observer();
}

// Length of the longest prefix of `s` no longer than `max` that does not end inside a UTF-8
// sequence.
std::size_t Utf8Cut(std::string_view s, std::size_t max) {
    if (s.size() <= max) return s.size();
    std::size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

std::string LogPrefix(const struct tm& t) {
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "[%04d-%02d-%02d %02d:%02d:%02d] ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return prefix;
}

// The time stamp of a line logged now. Each thread keeps the one of the current second, so
// the local time is worked out once a second, not once a line.
const std::string& CurrentPrefix() {
    thread_local std::time_t second = -1;
    thread_local std::string prefix;
    const std::time_t now = std::time(nullptr);
    if (now != second) {
        struct tm local {};
        localtime_r(&now, &local);
        prefix = LogPrefix(local);
        second = now;
    }
    return prefix;
}

// Writes the whole of `bytes` to `fd` in as few calls as it takes (one, as a rule); a failed
// write drops the rest, as a failed stream flush would.
void WriteOut(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

std::string BuildLogLine(const struct tm& t, std::string_view message) {
    std::string line = LogPrefix(t);
    AppendLogMessage(line, message);
    return line;
}

void AppendLogMessage(std::string& line, std::string_view message) {
    const std::size_t limit = line.size() + kLogMessageLimit;
    for (std::size_t i = 0; i < message.size();) {
        const unsigned char c = static_cast<unsigned char>(message[i]);
        if (c == 0) break;
        if (c < 0x20 || c == 0x7F) {
            if (line.size() + 4 > limit) break;
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            line += esc;
            ++i;
            continue;
        }
        std::size_t run = i;
        while (run < message.size()) {
            const unsigned char r = static_cast<unsigned char>(message[run]);
            if (r < 0x20 || r == 0x7F) break;
            ++run;
        }
        const std::string_view plain = message.substr(i, run - i);
        const std::size_t room = limit - line.size();
        const std::size_t take = Utf8Cut(plain, room);
        line.append(plain.substr(0, take));
        if (take < plain.size()) break;
        i = run;
    }
}

void AttachLog(const std::string& logFilePath) {
    EventLog& log = Log();
    int openError = 0;
    {
        std::lock_guard guard(log.lock);
        log.file = std::fopen(logFilePath.c_str(), "ab");
        if (!log.file) openError = errno;
        log.attached = true;  // a view already gone stays gone: lines then go to the file
    }
    if (openError) LogEvent(LoadText(IDS_LOG_FILE_FAILED), logFilePath, openError);
}

void LogText(std::string_view format, std::span<const FormatArg> args) {
    EventLog& log = Log();
    if (!log.attached.load(std::memory_order_acquire)) return;
    std::string line = CurrentPrefix();
    AppendLogMessage(line, FormatText(format, args, 2 * kLogMessageLimit));

    if (log.echo.load(std::memory_order_relaxed)) {
        // The line and its end in one write: on stdout at once, never held in a buffer. Not
        // under the lock: one write of a line this short is never interleaved with another's,
        // on a pipe, a file or a terminal, and threads need not queue behind each other's.
        line += '\n';
        WriteOut(STDOUT_FILENO, line);
        line.pop_back();
    }
    std::lock_guard guard(log.lock);
    if (!log.viewAlive) {
        if (log.file) WriteLine(log.file, line);
        return;
    }
    if (log.lines.size() > kLogListFlushAbove) {
        FlushLocked(log);
        EmptyLocked(log);
    }
    log.lines.push_back(std::move(line));
    Notify(log);
}

void FlushLogList() {
    EventLog& log = Log();
    std::lock_guard guard(log.lock);
    FlushLocked(log);
}

void ClearLogList() {
    EventLog& log = Log();
    std::lock_guard guard(log.lock);
    EmptyLocked(log);
    Notify(log);
}

void DetachLogView() {
    EventLog& log = Log();
    std::lock_guard guard(log.lock);
    if (!log.viewAlive) return;
    FlushLocked(log);
    EmptyLocked(log);
    log.viewAlive = false;
    log.observer = nullptr;
}

void CloseLogFile() {
    EventLog& log = Log();
    std::lock_guard guard(log.lock);
    if (log.file) std::fclose(log.file);
    log.file = nullptr;
}

void SetLogEcho(bool echo) {
    EventLog& log = Log();
    std::lock_guard guard(log.lock);
    std::fflush(stdout);  // what was printed through stdio comes before the first line
    log.echo = echo;
}

void SetLogListObserver(std::function<void()> observer) {
    EventLog& log = Log();
    std::lock_guard guard(log.lock);
    log.observer = std::move(observer);
}

LogListDelta ReadLogList(std::uint64_t knownEpoch, std::size_t knownCount) {
    EventLog& log = Log();
    std::lock_guard guard(log.lock);
    LogListDelta delta;
    delta.epoch = log.epoch;
    std::size_t from = knownCount;
    if (knownEpoch != log.epoch || knownCount > log.lines.size()) {
        delta.reset = true;
        from = 0;
    }
    delta.lines.assign(log.lines.begin() + static_cast<std::ptrdiff_t>(from), log.lines.end());
    return delta;
}

std::vector<std::string> LogListLines() {
    EventLog& log = Log();
    std::lock_guard guard(log.lock);
    return log.lines;
}

void ResetLogForTest() {
    EventLog& log = Log();
    std::lock_guard guard(log.lock);
    if (log.file) std::fclose(log.file);
    log.file = nullptr;
    log.attached = false;
    log.viewAlive = true;
    log.echo = false;
    log.lines.clear();
    ++log.epoch;
    log.observer = nullptr;
}

}  // namespace revuzada
