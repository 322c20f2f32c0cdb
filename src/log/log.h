#pragma once
// The event log: one time-stamped line per event, kept in the log list and written to the
// log file when the list overflows and when the view that shows it goes away.
//
// The list lives here, under the log's lock; a GUI view mirrors it (ReadLogList) after being
// told of changes by the observer, so a worker never waits for the GUI thread.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "log/format.h"

namespace revuzada {

constexpr std::size_t kLogPrefixLength = 22;    // "[YYYY-MM-DD hh:mm:ss] "
constexpr std::size_t kLogMessageLimit = 1001;  // bytes of message after the prefix
constexpr std::size_t kLogListFlushAbove = 2048;  // a list over this many lines is flushed first

// Attaches the sink: from now on lines are kept. Opens (appends to) the log file at
// `logFilePath`; a file that cannot be opened is reported once as a log line and the list
// keeps working without it.
void AttachLog(const std::string& logFilePath);

// Adds one line: the time stamp, then `format` applied to `args` (see FormatText).
// Dropped while the sink is not attached.
void LogText(std::string_view format, std::span<const FormatArg> args);

template <typename... Args>
void LogEvent(std::string_view format, const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg("")};
    LogText(format, std::span<const FormatArg>(list, sizeof...(Args)));
}

// Writes every line of the list, oldest first, to the log file, each ending in CR LF; the
// list is left as it is.
void FlushLogList();

// Empties the list without writing it (the view's clear command).
void ClearLogList();

// The view is gone: its lines are written to the file and from now on each line goes straight
// to the file while it is open. The observer is dropped before this returns.
void DetachLogView();

// Closes the log file (the TFTP listener's last act); later lines reach no file.
void CloseLogFile();

// Headless: every kept line is also printed on stdout, flushed at once.
void SetLogEcho(bool echo);

// Called under the log's lock after every change of the list; must only post a notification.
void SetLogListObserver(std::function<void()> observer);

// What a mirror of the list needs: the lines appended since its last read, or the whole list
// after it was emptied (the epoch changes whenever the list is emptied).
struct LogListDelta {
    std::uint64_t epoch = 0;
    bool reset = false;               // the mirror must drop its rows first
    std::vector<std::string> lines;   // rows to append
};
LogListDelta ReadLogList(std::uint64_t knownEpoch, std::size_t knownCount);

// Current lines of the list (for tests and diagnostics).
std::vector<std::string> LogListLines();

// Formats the prefix and message of one line for the given local time; control characters
// of the message are written as \xNN and the message is cut to kLogMessageLimit bytes.
std::string BuildLogLine(const struct tm& localTime, std::string_view message);

// Appends `message` to `line` as BuildLogLine does after the prefix.
void AppendLogMessage(std::string& line, std::string_view message);

// Back to the detached state with an empty list and no file (tests only).
void ResetLogForTest();

}  // namespace revuzada
