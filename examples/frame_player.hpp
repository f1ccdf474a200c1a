// `kestrel-scan scan`: plays a folder of camera frames into a Scanner at the camera's rate, as a
// host's camera callback would, and prints what the scanner reports.
#pragma once

#include <filesystem>

namespace scan {

struct PlayOptions {
    double fps = 30;
    bool continuous = false; // go on after the first page, to the last frame
    bool json = false;
};

// Exit status: 0 a page was found, 1 no frame could be read, 3 no page was found, 4 every request
// failed.
int playFrames(const std::filesystem::path& folder, const PlayOptions& options);

} // namespace scan
