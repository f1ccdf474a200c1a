// Decoding JPEG (TurboJPEG) and PNG (libpng) data into bitmaps.
#include <kestrel/platform/bitmap.hpp>

#include "platform/imaging/exif_orientation.hpp"
#include "platform/imaging/planar_image.hpp"
#include "platform/imaging/stored_image.hpp"

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>

namespace kestrel::platform {

namespace {

// Files larger than this are not read: no photo of a supported size comes near it.
constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t{1} << 30;

bool fits(std::int64_t width, std::int64_t height) {
    return width > 0 && height > 0 && width <= Bitmap::maxPixelSide &&
           height <= Bitmap::maxPixelSide && width * height <= Bitmap::maxPixelCount;
}

// What the decoder needs from a JPEG's markers before it decodes: whether the frame is
// Huffman-coded (every SOF but the arithmetic-coded ones; absent when no frame header is found),
// and whether an Adobe segment says that CMYK samples are stored inverted, as Adobe's
// applications write them.
struct JpegMarkers {
    std::optional<bool> huffmanCoded;
    bool adobe = false;
};

JpegMarkers readMarkers(std::span<const std::uint8_t> bytes) {
    JpegMarkers found;
    std::size_t at = 2; // after SOI
    while (at + 4 <= bytes.size() && bytes[at] == 0xFF) {
        const std::uint8_t marker = bytes[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA) break; // start of scan: no header segment follows
        const std::size_t length = std::size_t{bytes[at + 2]} << 8 | bytes[at + 3];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            found.huffmanCoded = marker < 0xC8;
        if (marker == 0xEE && length >= 7 && at + 9 <= bytes.size() &&
            std::memcmp(&bytes[at + 4], "Adobe", 5) == 0)
            found.adobe = true;
        at += 2 + length;
    }
    return found;
}

// Turns decoded CMYK into opaque RGB in place, as ink on white paper: each channel is what its
// ink and the black leave of the light. Adobe's files store the samples inverted (255 = no ink).
void inkToRgb(std::vector<std::uint8_t>& pixels, bool inverted) {
    for (std::size_t i = 0; i + 3 < pixels.size(); i += 4) {
        const unsigned k = inverted ? pixels[i + 3] : 255u - pixels[i + 3];
        for (std::size_t c = 0; c < 3; ++c) {
            const unsigned light = inverted ? pixels[i + c] : 255u - pixels[i + c];
            pixels[i + c] = static_cast<std::uint8_t>((light * k + 127) / 255);
        }
        pixels[i + 3] = 255;
    }
}

// A file too small to hold the pixels its header claims is refused before anything is allocated:
// a Huffman-coded JPEG spends at least one bit on every 8 × 8 block of its first component, and
// deflate packs at most 1032 bytes into one, over rows of at least one bit per pixel and a filter
// byte. Real photos are far above both bounds; a 300-byte "65 000 × 65 000" file is far below.
bool couldHold(std::size_t fileBytes, std::int64_t width, std::int64_t height, bool jpeg) {
    const auto needed =
        jpeg ? (width + 7) / 8 * ((height + 7) / 8) / 8 : height * (1 + (width + 7) / 8) / 1032;
    return static_cast<std::int64_t>(fileBytes) >= needed;
}

struct TjDeleter {
    void operator()(void* h) const { tjDestroy(h); }
};

// What a JPEG's header says, and the size it decodes to at the DCT reduction chosen.
struct JpegLayout {
    int scaledW = 0, scaledH = 0;
    int subsampling = 0, colorspace = 0;
    bool adobe = false;
};

// Reads the header of a JPEG and picks the smallest DCT-domain reduction that still gives the
// caller the size asked for. Empty for a header that does not parse, a file too short for the
// frame it declares, or a decoded size past the bitmap limits.
std::optional<JpegLayout> jpegLayout(void* tj, std::span<const std::uint8_t> bytes,
                                     int maxPixelSide) {
    auto* data = const_cast<unsigned char*>(bytes.data()); // TurboJPEG 2.x takes non-const
    int width = 0, height = 0;
    JpegLayout layout;
    if (tjDecompressHeader3(tj, data, static_cast<unsigned long>(bytes.size()), &width, &height,
                            &layout.subsampling, &layout.colorspace) != 0)
        return std::nullopt;
    if (width <= 0 || height <= 0) return std::nullopt;
    const JpegMarkers markers = readMarkers(bytes);
    if (markers.huffmanCoded.value_or(false) && !couldHold(bytes.size(), width, height, true))
        return std::nullopt;
    layout.adobe = markers.adobe;

    layout.scaledW = width;
    layout.scaledH = height;
    if (maxPixelSide > 0) {
        int count = 0;
        const tjscalingfactor* factors = tjGetScalingFactors(&count);
        const int longer = std::max(width, height);
        int best = longer;
        for (int i = 0; factors && i < count; ++i) {
            if (factors[i].num > factors[i].denom) continue; // only reductions
            const int side = TJSCALED(longer, factors[i]);
            if (side >= maxPixelSide && side < best) {
                best = side;
                layout.scaledW = TJSCALED(width, factors[i]);
                layout.scaledH = TJSCALED(height, factors[i]);
            }
        }
    }
    if (!fits(layout.scaledW, layout.scaledH)) return std::nullopt;
    return layout;
}

StoredImage decodeJpeg(std::span<const std::uint8_t> bytes, int maxPixelSide,
                       DecodedColour colour) {
    std::unique_ptr<void, TjDeleter> tj(tjInitDecompress());
    if (!tj) return {};
    const auto layout = jpegLayout(tj.get(), bytes, maxPixelSide);
    if (!layout) return {};
    auto* data = const_cast<unsigned char*>(bytes.data());
    const auto size = static_cast<unsigned long>(bytes.size());
    const int scaledW = layout->scaledW, scaledH = layout->scaledH, colorspace = layout->colorspace;

    // Print workflows write CMYK, or YCCK, which TurboJPEG turns back into CMYK.
    const bool ink = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
    // Asking for grey makes the decoder skip the colour components altogether.
    const bool gray = colorspace == TJCS_GRAY || (colour == DecodedColour::lumaOnly && !ink);
    const int bpp = gray ? 1 : 4;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(scaledW) * scaledH * bpp);
    // A warning (truncated data, a corrupt segment) is a failure too: never half an image.
    if (tjDecompress2(tj.get(), data, size, pixels.data(), scaledW, scaledW * bpp, scaledH,
                      gray  ? TJPF_GRAY
                      : ink ? TJPF_CMYK
                            : TJPF_RGBA,
                      TJFLAG_STOPONWARNING) != 0)
        return {};
    if (ink) inkToRgb(pixels, layout->adobe);
    // A decoded JPEG is opaque, so its RGBA is premultiplied as well as straight.
    return {Bitmap::withPixels(gray ? PixelFormat::gray8 : PixelFormat::rgba8Premultiplied, scaledW,
                               scaledH, 0, std::move(pixels)),
            exif::jpegOrientation(bytes)};
}

std::shared_ptr<const Bitmap> decodePng(std::span<const std::uint8_t> bytes) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return nullptr;
    // Without gAMA or sRGB chunks libpng takes 16-bit samples as linear light and brightens them
    // on the way to 8 bits; files from cameras and scanners mean sRGB, as 8-bit ones do.
    image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    const bool gray = (image.format & (PNG_FORMAT_FLAG_COLOR | PNG_FORMAT_FLAG_ALPHA)) == 0;
    image.format = gray ? PNG_FORMAT_GRAY : PNG_FORMAT_RGBA;
    if (!fits(image.width, image.height) ||
        !couldHold(bytes.size(), image.width, image.height, false)) {
        png_image_free(&image);
        return nullptr;
    }
    const int width = static_cast<int>(image.width), height = static_cast<int>(image.height);
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return nullptr;
    }
    return Bitmap::withPixels(gray ? PixelFormat::gray8 : PixelFormat::rgba8, width, height, 0,
                              std::move(pixels));
}

} // namespace

std::optional<StoredPlanes> decodeJpegPlanes(std::span<const std::uint8_t> bytes,
                                             int maxPixelSide) {
    if (bytes.size() < 3 || bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[2] != 0xFF)
        return std::nullopt;
    std::unique_ptr<void, TjDeleter> tj(tjInitDecompress());
    if (!tj) return std::nullopt;
    const auto layout = jpegLayout(tj.get(), bytes, maxPixelSide);
    if (!layout || layout->colorspace != TJCS_YCbCr) return std::nullopt;
    const int subsampling = layout->subsampling;
    StoredPlanes stored;
    std::array<unsigned char*, 3> rows{};
    std::array<int, 3> strides{};
    for (int i = 0; i < 3; ++i) {
        Plane& plane = stored.planes[static_cast<std::size_t>(i)];
        plane.width = tjPlaneWidth(i, layout->scaledW, subsampling);
        plane.height = tjPlaneHeight(i, layout->scaledH, subsampling);
        if (plane.width <= 0 || plane.height <= 0) return std::nullopt;
        plane.pixels.resize(static_cast<std::size_t>(plane.width) * plane.height);
        rows[static_cast<std::size_t>(i)] = plane.pixels.data();
        strides[static_cast<std::size_t>(i)] = plane.width;
    }
    // A warning (truncated data, a corrupt segment) is a failure too: never half an image.
    if (tjDecompressToYUVPlanes(tj.get(), const_cast<unsigned char*>(bytes.data()),
                                static_cast<unsigned long>(bytes.size()), rows.data(),
                                layout->scaledW, strides.data(), layout->scaledH,
                                TJFLAG_STOPONWARNING) != 0)
        return std::nullopt;
    stored.orientation = exif::jpegOrientation(bytes);
    return stored;
}

StoredImage decodeAsStored(std::span<const std::uint8_t> bytes, int maxPixelSide,
                           DecodedColour colour) {
    static constexpr std::uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
        return decodeJpeg(bytes, maxPixelSide, colour);
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), pngSignature, 8) == 0)
        return {decodePng(bytes)};
    return {};
}

std::optional<std::vector<std::uint8_t>> readPhotoFile(const std::filesystem::path& path) {
    std::error_code ec;
    const std::uintmax_t length = std::filesystem::file_size(path, ec);
    if (ec || length == 0 || length > kMaxFileBytes) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length)))
        return std::nullopt;
    return bytes;
}

std::shared_ptr<const Bitmap> turnedUpright(const Bitmap& bitmap, int orientation) {
    if (orientation == 1 || !bitmap.hasPixels()) return nullptr;
    const int bpp = bytesPerPixel(bitmap.format());
    int width = bitmap.pixelWidth(), height = bitmap.pixelHeight();
    const std::size_t row = static_cast<std::size_t>(width) * bpp;
    std::vector<std::uint8_t> packed;
    if (bitmap.stride() != row) {
        packed.resize(row * height);
        for (int y = 0; y < height; ++y) std::memcpy(&packed[y * row], bitmap.row(y), row);
    }
    auto turned = exif::applyOrientation(packed.empty() ? std::span(bitmap.pixels(), row * height)
                                                        : std::span(packed),
                                         width, height, bpp, orientation);
    return Bitmap::withPixels(bitmap.format(), width, height, 0, std::move(turned));
}

std::shared_ptr<const Bitmap> Bitmap::fromEncoded(std::span<const std::uint8_t> bytes,
                                                  int maxPixelSide, DecodedColour colour) {
    StoredImage stored = decodeAsStored(bytes, maxPixelSide, colour);
    if (!stored.bitmap || stored.orientation == 1) return stored.bitmap;
    return turnedUpright(*stored.bitmap, stored.orientation);
}

std::shared_ptr<const Bitmap> Bitmap::fromFile(const std::filesystem::path& path, int maxPixelSide,
                                               DecodedColour colour) {
    const auto bytes = readPhotoFile(path);
    return bytes ? fromEncoded(*bytes, maxPixelSide, colour) : nullptr;
}

} // namespace kestrel::platform
