#pragma once
// Paths and small file helpers of the platform.

#include <optional>
#include <string>

namespace revuzada {

// Canonical full path of the running executable.
std::string ExecutablePath();

// Everything up to and including the last '/', or "" for a name without one.
std::string DirectoryOf(const std::string& path);

// The log file of an executable: the extension of its file name replaced by "log" (a dot in a
// folder name does not count); a name without an extension gets ".log" appended.
std::string LogFilePathFor(const std::string& executablePath);

// The whole content of a regular file of at most maxBytes; nullopt when it is missing,
// unreadable, not a regular file or larger.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes);

// An absolute directory path ending in '/', relative paths taken from the working directory;
// nullopt when it is not an existing directory.
std::optional<std::string> AbsoluteDirectory(const std::string& path);

}  // namespace revuzada
