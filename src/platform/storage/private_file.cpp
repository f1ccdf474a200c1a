#include "platform/storage/private_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel::platform {

bool createPrivateFile(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (!path.parent_path().empty()) ::chmod(path.parent_path().c_str(), 0700);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    ::fchmod(fd, 0600);
    ::close(fd);
    return true;
}

} // namespace kestrel::platform
