// Decoding a photo as it is stored, and turning it upright afterwards: the send path scales a
// photo first and turns only the small result, which costs a fraction of turning the decode.
#pragma once

#include <kestrel/platform/bitmap.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kestrel::platform {

// A decoded JPEG or PNG as stored, with the EXIF orientation (1..8) that turns it upright.
struct StoredImage {
    std::shared_ptr<const Bitmap> bitmap; // null when the data does not decode
    int orientation = 1;
};

// Bitmap::fromEncoded without the turn.
StoredImage decodeAsStored(std::span<const std::uint8_t> bytes, int maxPixelSide,
                           DecodedColour colour);

// The bytes of a photo file; empty when it cannot be read, is empty, or is larger than any photo
// the library decodes.
std::optional<std::vector<std::uint8_t>> readPhotoFile(const std::filesystem::path& path);

// A new bitmap turned upright for an EXIF orientation 2..8 (point size = pixel size, scale 1);
// null for orientation 1 or a bitmap without pixels.
std::shared_ptr<const Bitmap> turnedUpright(const Bitmap& bitmap, int orientation);

} // namespace kestrel::platform
