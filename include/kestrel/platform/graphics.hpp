/// \file
/// Drawing contexts and JPEG encoding for bitmaps: drawing a bitmap at another size (alpha kept),
/// drawing it into an 8-bit grey context, and the JPEG bytes of a bitmap.
#pragma once

#include <kestrel/platform/bitmap.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kestrel::platform {

/// Draws the whole bitmap into a new transparent RGBA context of `size` points at scale 1 and
/// returns the context's image: premultiplied RGBA8, point size exactly `size` (not rounded),
/// pixel size `size` rounded to whole pixels (at least 1), which the drawing fills. Reductions
/// average the covered area, so fine print does not alias; enlargements interpolate smoothly.
/// Empty result when the bitmap is null or has no pixels, or when `size` is not finite, not
/// positive, or would need more than Bitmap::maxPixelCount pixels or a side above
/// Bitmap::maxPixelSide.
std::shared_ptr<const Bitmap> drawInContext(const Bitmap* bitmap, Size size);

/// Draws the whole bitmap into the rectangle (0, 0, size) of a new 8-bit grey context without
/// alpha whose pixel size is `size` truncated to whole pixels, and returns its image (gray8,
/// point size = pixel size, scale 1). Grey is the luminance 0.299 R + 0.587 G + 0.114 B;
/// transparent pixels come out as over black. Same empty results as drawInContext, and also when
/// a truncated side is 0.
std::shared_ptr<const Bitmap> drawInGrayContext(const Bitmap* bitmap, Size size);

/// The JPEG bytes of the bitmap (baseline, 4:2:0 for colour, one component for gray8). quality
/// in [0, 1] maps to the encoder's 1..100; values outside are clamped. Alpha is dropped as if the
/// image were drawn over black. Absent when the bitmap is null or has no pixels, when quality is
/// not finite, or when the encoder fails.
std::optional<std::vector<std::uint8_t>> jpegRepresentation(const Bitmap* bitmap, double quality);

} // namespace kestrel::platform
