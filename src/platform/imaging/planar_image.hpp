// A colour photo as the JPEG codec holds it: full-size luminance and two chroma planes. The send
// path keeps a colour JPEG in this form from decoding to encoding, so the photo is never turned
// into RGB and back: the colour conversions and chroma resampling of both codecs are skipped, and
// the decoded planes take under 40 % of the memory of the RGBA image.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrel::platform {

struct Plane {
    int width = 0, height = 0; // packed rows
    std::vector<std::uint8_t> pixels;
};

// Y, Cb and Cr.
using Planes = std::array<Plane, 3>;

struct StoredPlanes {
    Planes planes;
    int orientation = 1; // the EXIF orientation that turns the planes upright
};

// Decodes a YCbCr JPEG to its planes at the smallest DCT reduction whose longer side is still at
// least maxPixelSide (whole when it is 0). Empty for data that is not a YCbCr JPEG (grey, CMYK,
// RGB, PNG) and for data that does not decode completely.
std::optional<StoredPlanes> decodeJpegPlanes(std::span<const std::uint8_t> bytes, int maxPixelSide);

// The luminance drawn onto width × height and the chroma onto half that (rounded up), as a 4:2:0
// JPEG holds them. Empty when a plane would have to be enlarged.
std::optional<Planes> scaledPlanes(Planes planes, int width, int height);

// The planes turned upright for an EXIF orientation 1..8.
Planes turnedPlanes(Planes planes, int orientation);

// A 4:2:0 JPEG of planes that scaledPlanes made, at quality in [0, 1] as jpegRepresentation takes
// it. Empty when the encoder fails.
std::optional<std::vector<std::uint8_t>> jpegFromPlanes(const Planes& planes, double quality);

} // namespace kestrel::platform
