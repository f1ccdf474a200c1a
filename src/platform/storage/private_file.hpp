// Files that hold what other local users must not read (the API key, click reports).
#pragma once

#include <filesystem>

namespace kestrel::platform {

// Creates the file owner-only (0600, its folder 0700) before anything opens it, so that it never
// exists with wider rights; an existing file is narrowed to 0600. False when it cannot be made.
bool createPrivateFile(const std::filesystem::path& path);

} // namespace kestrel::platform
