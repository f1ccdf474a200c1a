/// \file
/// The image object: a bitmap with a size in points and a scale, holding RGBA, BGRA or grey pixels
/// that it owns or borrows from the host. Factories from raw pixels and from JPEG or PNG data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <kestrel/cg_float.hpp>

#include <memory>
#include <span>
#include <vector>

namespace kestrel::platform {

/// A width and a height in points; either may be fractional.
struct Size {
    CGFloat width = 0;  ///< in points
    CGFloat height = 0; ///< in points
    /// Equal when every field is equal.
    bool operator==(const Size&) const = default;
};

/// How the bytes of one pixel are laid out. Colour formats take four bytes per pixel; "straight"
/// colour channels are independent of alpha, "premultiplied" ones are already multiplied by it.
enum class PixelFormat {
    rgba8,              ///< R, G, B, A; straight alpha
    rgba8Premultiplied, ///< R, G, B, A; premultiplied alpha
    bgra8,              ///< B, G, R, A; straight alpha
    bgra8Premultiplied, ///< B, G, R, A; premultiplied alpha (the usual camera frame layout)
    gray8,              ///< one grey byte, no alpha
};

/// What a decoder gives: the image's own colours, or for a colour JPEG only its luminance.
enum class DecodedColour { asStored, lumaOnly };

/// Bytes per pixel of a format: 4, or 1 for gray8.
int bytesPerPixel(PixelFormat format);

/// An immutable bitmap. Pixels are either owned (a buffer the bitmap keeps) or borrowed from the
/// host (never copied: the host keeps them alive and unchanged while any reference to the bitmap
/// exists, or hands over an owner to keep alive). A bitmap may also carry no pixels at all (a
/// placeholder with only a size), which every drawing call treats as "nothing to draw".
/// Bitmaps are shared as std::shared_ptr<const Bitmap>; they can be read from any thread.
class Bitmap {
public:
    /// Largest pixel count the library makes or decodes (64 Mi pixels, 256 MiB of RGBA).
    static constexpr std::int64_t maxPixelCount = std::int64_t{1} << 26;
    /// Longest side the library makes or decodes, in pixels (2^20); it bounds the per-row
    /// working memory of scaling. JPEG itself stops at 65535.
    static constexpr int maxPixelSide = 1 << 20;

    /// Takes ownership of pixel rows of the given geometry. stride is the bytes from one row to
    /// the next (0: packed rows). The point size defaults to the pixel size divided by scale.
    /// Empty result when width or height is not positive or too large, the stride is shorter
    /// than a row, the buffer is shorter than the rows, or scale is not a positive finite number.
    static std::shared_ptr<const Bitmap> withPixels(PixelFormat format, int width, int height,
                                                    std::size_t stride,
                                                    std::vector<std::uint8_t> pixels,
                                                    CGFloat scale = 1.0);

    /// Wraps the host's pixels without copying them. The host keeps them valid and unchanged
    /// while the bitmap lives; `owner`, when given, is kept alive by the bitmap for that purpose.
    /// Empty result for a null pointer or a geometry that withPixels would refuse (the buffer
    /// length is not known, so the host vouches for stride × height bytes).
    static std::shared_ptr<const Bitmap> borrowing(PixelFormat format, int width, int height,
                                                   std::size_t stride, const std::uint8_t* pixels,
                                                   CGFloat scale = 1.0,
                                                   std::shared_ptr<const void> owner = {});

    /// Decodes JPEG or PNG bytes (recognised by their signature) at scale 1. A JPEG's EXIF
    /// orientation is applied, so the result stands upright. When maxPixelSide is positive a
    /// JPEG is decoded at the smallest DCT reduction (1/2, 1/4, 1/8...) whose longer side is
    /// still at least maxPixelSide, and turned upright after that, which is much faster than
    /// decoding it whole; PNGs are always decoded whole. With DecodedColour::lumaOnly a colour
    /// JPEG comes out as its luminance (gray8) without its colour ever being computed; CMYK JPEGs
    /// and PNGs come out as stored. Empty result for empty, unknown, corrupt or truncated data, or
    /// an image larger than maxPixelCount.
    static std::shared_ptr<const Bitmap>
    fromEncoded(std::span<const std::uint8_t> bytes, int maxPixelSide = 0,
                DecodedColour colour = DecodedColour::asStored);
    /// Reads a JPEG or PNG file and decodes it as fromEncoded does; empty result when the file
    /// cannot be read. Without maxPixelSide a 12-megapixel photo costs about 50 MB (100 MB when
    /// it is stored turned) and 70-130 ms of a 2 GHz core; to send a photo file,
    /// Server::enrichedImage and pictureSearch take the path and decode it small themselves.
    static std::shared_ptr<const Bitmap> fromFile(const std::filesystem::path& path,
                                                  int maxPixelSide = 0,
                                                  DecodedColour colour = DecodedColour::asStored);

    /// A copy of this bitmap's description that shares (does not copy) its pixels and carries
    /// another point size and scale: any values, even zero or not finite, as the host's image
    /// object may carry them. Drawing calls decide what to do with such sizes.
    std::shared_ptr<const Bitmap> withPointSize(Size size, CGFloat scale) const;
    /// A bitmap without pixels that only has a point size.
    static std::shared_ptr<const Bitmap> placeholder(Size size);

    /// The size in points.
    Size size() const { return size_; }
    /// Pixels per point.
    CGFloat scale() const { return scale_; }
    /// Width in pixels; 0 when there are no pixels.
    int pixelWidth() const { return pixelWidth_; }
    /// Height in pixels; 0 when there are no pixels.
    int pixelHeight() const { return pixelHeight_; }
    /// How the bytes of one pixel are laid out.
    PixelFormat format() const { return format_; }
    /// Bytes from the start of one row to the start of the next.
    std::size_t stride() const { return stride_; }
    /// The first byte of the first row; null when there are no pixels.
    const std::uint8_t* pixels() const { return pixels_; }
    /// False for a placeholder, which has only a size.
    bool hasPixels() const { return pixels_ != nullptr; }
    /// True when the pixels are the bitmap's own buffer (or one it shares with another bitmap
    /// made from it), false when they are borrowed from the host.
    bool ownsPixels() const { return ownsPixels_; }
    /// The first byte of row y (0 ≤ y < pixelHeight).
    const std::uint8_t* row(int y) const { return pixels_ + static_cast<std::size_t>(y) * stride_; }

    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

private:
    Bitmap() = default;
    /// A bitmap over pixels whose geometry was checked; storage keeps them alive.
    static std::shared_ptr<Bitmap> assemble(PixelFormat format, int width, int height,
                                            std::size_t stride, const std::uint8_t* pixels,
                                            CGFloat scale, bool ownsPixels,
                                            std::shared_ptr<const void> storage);

    Size size_;
    CGFloat scale_ = 1.0;
    int pixelWidth_ = 0;
    int pixelHeight_ = 0;
    PixelFormat format_ = PixelFormat::rgba8Premultiplied;
    std::size_t stride_ = 0;
    const std::uint8_t* pixels_ = nullptr;
    bool ownsPixels_ = false;
    std::shared_ptr<const void> storage_; ///< keeps the pixels alive (own buffer or host's owner)
};

} // namespace kestrel::platform
