// The EXIF orientation of a JPEG stream, and turning decoded pixels upright by it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kestrel::platform::exif {

// The orientation tag (1..8) of the first EXIF block of a JPEG stream; 1 (upright) when there is
// none or it cannot be read. Every offset is checked against the data.
int jpegOrientation(std::span<const std::uint8_t> jpeg);

// Turns packed pixels (width × height, bpp bytes each, bpp 1 or 4) upright for an EXIF
// orientation 1..8.
// Orientations 5 to 8 swap width and height, which are updated.
std::vector<std::uint8_t> applyOrientation(std::span<const std::uint8_t> pixels, int& width,
                                           int& height, int bpp, int orientation);

} // namespace kestrel::platform::exif
