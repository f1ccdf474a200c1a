#include "platform/device/system_files.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel::platform {

namespace {
struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Undoes the quoting of one value, starting right after the '='.
std::string unquote(std::string_view v) {
    std::string out;
    std::size_t i = 0;
    while (i < v.size()) {
        const char c = v[i];
        if (c == '"') {
            for (++i; i < v.size() && v[i] != '"'; ++i) {
                if (v[i] == '\\' && i + 1 < v.size()) {
                    const char next = v[i + 1];
                    if (next == '"' || next == '\\' || next == '$' || next == '`') {
                        out += next;
                        ++i;
                        continue;
                    }
                }
                out += v[i];
            }
            ++i; // the closing quote, if any
        } else if (c == '\'') {
            for (++i; i < v.size() && v[i] != '\''; ++i) out += v[i];
            ++i;
        } else if (c == '\\' && i + 1 < v.size()) {
            out += v[i + 1];
            i += 2;
        } else if (isBlank(c)) {
            break; // unquoted white space ends the value; what follows is a comment or garbage
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}
} // namespace

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t maxBytes) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; the fstat below then rejects it.
    FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (file.fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;

    // Files under /proc and /sys report a size of 0 or one page whatever they hold: read until
    // the end rather than trusting st_size.
    std::string content;
    char buffer[4096];
    while (content.size() < maxBytes) {
        const std::size_t want = std::min(sizeof buffer, maxBytes - content.size());
        const ssize_t got = ::read(file.fd, buffer, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    return content;
}

std::optional<std::string> shellAssignment(std::string_view content, std::string_view key) {
    std::optional<std::string> found;
    while (!content.empty()) {
        const std::size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);

        while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view name = line.substr(0, eq);
        while (!name.empty() && isBlank(name.back())) name.remove_suffix(1);
        if (name != key) continue;
        found = unquote(line.substr(eq + 1));
    }
    return found;
}

std::string cleanLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            // A tab or line break between words still separates them.
            if ((c == '\t' || c == '\n' || c == '\r') && !out.empty() && out.back() != ' ')
                out += ' ';
            continue;
        }
        out += c;
    }
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const std::size_t last = out.find_last_not_of(' ');
    return out.substr(first, last - first + 1);
}

} // namespace kestrel::platform
