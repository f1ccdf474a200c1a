// Reading the small text files through which a Linux system describes itself: os-release and
// machine-info (shell-style KEY=value lines), and single-value kernel files under /proc and /sys.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::platform {

// The content of a regular file, at most maxBytes of it; absent when the file is missing, is not
// a regular file (a FIFO or device is never opened for reading, so this never blocks), or cannot
// be read.
std::optional<std::string> readSmallFile(const std::filesystem::path& path,
                                         std::size_t maxBytes = 64 * 1024);

// The value of the last assignment to key in a file of KEY=value lines, with the shell quoting
// that os-release and machine-info allow undone: "double quotes" with \", \\, \$ and \` escapes,
// 'single quotes', and backslash escapes outside quotes. Blank lines and # comments are skipped;
// an unterminated quote runs to the end of its line. Absent when key is never assigned.
std::optional<std::string> shellAssignment(std::string_view content, std::string_view key);

// The text as one clean line: tabs and line breaks become a single space, other control
// characters (C0 and DEL) are dropped, and surrounding spaces are trimmed. Bytes of other UTF-8
// characters are kept as they are.
std::string cleanLine(std::string_view text);

} // namespace kestrel::platform
