// Test images and an independent JPEG codec (libjpeg's own interface) for the image suites.
#pragma once

#include <kestrel/platform/bitmap.hpp>

#include <cstdint>
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace fixtures {

using kestrel::platform::Bitmap;
using kestrel::platform::PixelFormat;

// Appends bytes one at a time (GCC 12 misreads the bounds of an initializer-list insert).
inline void append(std::vector<std::uint8_t>& v, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) v.push_back(b);
}

struct Rgba {
    std::uint8_t r, g, b, a;
    bool operator==(const Rgba&) const = default;
};

inline Rgba solid(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
    return {r, g, b, a};
}

// A packed image made by calling fn(x, y) for every pixel, stored in the given four-byte format.
inline std::shared_ptr<const Bitmap> rgbaBitmap(int w, int h,
                                                const std::function<Rgba(int, int)>& fn,
                                                PixelFormat format = PixelFormat::rgba8) {
    std::vector<std::uint8_t> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgba c = fn(x, y);
            append(px, {c.r, c.g, c.b, c.a});
        }
    return Bitmap::withPixels(format, w, h, 0, std::move(px));
}

// A test card: vertical stripes, a checkerboard and thin text-like strokes on paper white,
// with some deterministic texture.
inline Rgba testCard(int x, int y) {
    const unsigned noise =
        (static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u) % 17;
    std::uint8_t v;
    if (y % 240 < 80)
        v = (x / 3) % 2 ? 230 : 30; // stripes three pixels wide
    else if (y % 240 < 160)
        v = ((x / 8) + (y / 8)) % 2 ? 220 : 40; // checkerboard of 8-pixel squares
    else
        v = (x % 23 < 2 || (y % 19 < 2 && x % 50 < 30)) ? 20 : 235; // strokes
    const std::uint8_t r = static_cast<std::uint8_t>(std::min(255u, v + noise));
    return {r, static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(255 - v / 2), 255};
}

// Pixel (x, y) of a bitmap, as four bytes (grey repeated, alpha 255, for gray8).
inline Rgba pixel(const Bitmap& b, int x, int y) {
    const std::uint8_t* p =
        b.row(y) + static_cast<std::size_t>(x) * (b.format() == PixelFormat::gray8 ? 1 : 4);
    if (b.format() == PixelFormat::gray8) return {p[0], p[0], p[0], 255};
    if (b.format() == PixelFormat::bgra8 || b.format() == PixelFormat::bgra8Premultiplied)
        return {p[2], p[1], p[0], p[3]};
    return {p[0], p[1], p[2], p[3]};
}

struct Decoded {
    int width = 0, height = 0, components = 0;
    std::vector<std::uint8_t> pixels;
};

// libjpeg's error handling longjmps by default; this turns it into an exception.
[[noreturn]] inline void jpegFail(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    throw std::runtime_error(message);
}

// Decodes JPEG bytes with libjpeg's own interface.
inline Decoded decodeJpeg(const std::vector<std::uint8_t>& bytes) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = jpegFail;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    Decoded d{static_cast<int>(cinfo.output_width),
              static_cast<int>(cinfo.output_height),
              cinfo.output_components,
              {}};
    d.pixels.resize(static_cast<std::size_t>(d.width) * d.height * d.components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row =
            &d.pixels[static_cast<std::size_t>(cinfo.output_scanline) * d.width * d.components];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return d;
}

// Encodes packed RGB (components 3) or grey (1) with libjpeg's own interface.
// Four components are CMYK samples, stored as `stored` (JCS_CMYK or JCS_YCCK) and marked with an
// Adobe segment unless `adobeMarker` is false. RGB is stored 4:2:0 unless lumaSampling gives the
// luminance's horizontal and vertical sampling factors against the chroma's.
inline std::vector<std::uint8_t> encodeJpeg(const std::vector<std::uint8_t>& px, int w, int h,
                                            int components, int quality = 95,
                                            J_COLOR_SPACE stored = JCS_UNKNOWN,
                                            bool adobeMarker = true,
                                            std::pair<int, int> lumaSampling = {2, 2}) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = jpegFail;
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (stored != JCS_UNKNOWN) jpeg_set_colorspace(&cinfo, stored);
    if (components == 3) {
        cinfo.comp_info[0].h_samp_factor = lumaSampling.first;
        cinfo.comp_info[0].v_samp_factor = lumaSampling.second;
    }
    cinfo.write_Adobe_marker = cinfo.write_Adobe_marker && adobeMarker;
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(
            &px[static_cast<std::size_t>(cinfo.next_scanline) * w * components]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + outSize);
    std::free(out);
    return bytes;
}

// Inserts an EXIF block carrying an orientation tag right after the JPEG's SOI marker.
inline std::vector<std::uint8_t> withExifOrientation(const std::vector<std::uint8_t>& jpeg,
                                                     int orientation, bool bigEndian) {
    std::vector<std::uint8_t> exif = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            exif.push_back(static_cast<std::uint8_t>(v >> 8 * (bigEndian ? bytes - 1 - i : i)));
    };
    exif.push_back(bigEndian ? 'M' : 'I');
    exif.push_back(bigEndian ? 'M' : 'I');
    put(42, 2), put(8, 4), put(2, 2); // two entries: an unrelated one, then the orientation
    put(0x010F, 2), put(2, 2), put(4, 4), append(exif, {'K', 'S', 'L', 0}); // Make, inline
    put(0x0112, 2), put(3, 2), put(1, 4), put(static_cast<unsigned>(orientation), 2), put(0, 2);
    put(0, 4);
    exif[2] = static_cast<std::uint8_t>((exif.size() - 2) >> 8);
    exif[3] = static_cast<std::uint8_t>(exif.size() - 2);
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    for (std::uint8_t b : exif) out.push_back(b);
    for (std::size_t i = 2; i < jpeg.size(); ++i) out.push_back(jpeg[i]);
    return out;
}

} // namespace fixtures
