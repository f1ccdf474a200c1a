// Test images and an independent JPEG/PNG codec (libjpeg's own interface, libpng) for the image
// suites.
#pragma once

#include <kestrel/platform/bitmap.hpp>

#include <cstdint>
#include <cstdio>
#include <jpeglib.h>
#include <png.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
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
};

// A packed RGBA image made by calling fn(x, y) for every pixel.
inline std::vector<std::uint8_t> makeRgba(int w, int h, const std::function<Rgba(int, int)>& fn) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgba c = fn(x, y);
            std::uint8_t* p = &px[(static_cast<std::size_t>(y) * w + x) * 4];
            p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = c.a;
        }
    return px;
}

inline std::shared_ptr<const Bitmap> rgbaBitmap(int w, int h,
                                                const std::function<Rgba(int, int)>& fn,
                                                PixelFormat format = PixelFormat::rgba8) {
    return Bitmap::withPixels(format, w, h, 0, makeRgba(w, h, fn));
}

inline Rgba solid(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
    return {r, g, b, a};
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

// libjpeg's error handling longjmps by default; these turn it into exceptions.
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
    Decoded d;
    try {
        jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&cinfo, TRUE);
        jpeg_start_decompress(&cinfo);
        d.width = static_cast<int>(cinfo.output_width);
        d.height = static_cast<int>(cinfo.output_height);
        d.components = cinfo.output_components;
        d.pixels.resize(static_cast<std::size_t>(d.width) * d.height * d.components);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row =
                &d.pixels[static_cast<std::size_t>(cinfo.output_scanline) * d.width * d.components];
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
    } catch (...) {
        jpeg_destroy_decompress(&cinfo);
        throw;
    }
    jpeg_destroy_decompress(&cinfo);
    return d;
}

// Encodes packed RGB (components 3) or grey (1) with libjpeg's own interface.
inline std::vector<std::uint8_t> encodeJpeg(const std::vector<std::uint8_t>& px, int w, int h,
                                            int components, int quality = 95) {
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
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
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
    std::vector<std::uint8_t> tiff;
    auto u16 = [&](unsigned v) {
        if (bigEndian)
            fixtures::append(tiff, {std::uint8_t(v >> 8), std::uint8_t(v)});
        else
            fixtures::append(tiff, {std::uint8_t(v), std::uint8_t(v >> 8)});
    };
    auto u32 = [&](std::uint32_t v) {
        if (bigEndian) {
            u16(v >> 16);
            u16(v & 0xFFFF);
        } else {
            u16(v & 0xFFFF);
            u16(v >> 16);
        }
    };
    tiff.push_back(bigEndian ? 'M' : 'I');
    tiff.push_back(bigEndian ? 'M' : 'I');
    u16(42);
    u32(8);
    u16(2);                      // two entries: an unrelated one, then the orientation
    u16(0x010F), u16(2), u32(4); // Make, ASCII, 4 bytes inline
    fixtures::append(tiff, {'K', 'S', 'L', 0});
    u16(0x0112), u16(3), u32(1), u16(static_cast<unsigned>(orientation)), u16(0);
    u32(0);
    std::vector<std::uint8_t> app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    const std::size_t length = app1.size() - 2;
    app1[2] = static_cast<std::uint8_t>(length >> 8);
    app1[3] = static_cast<std::uint8_t>(length);
    std::vector<std::uint8_t> out;
    out.reserve(jpeg.size() + app1.size());
    out.push_back(jpeg[0]);
    out.push_back(jpeg[1]);
    for (std::uint8_t b : app1) out.push_back(b);
    for (std::size_t i = 2; i < jpeg.size(); ++i) out.push_back(jpeg[i]);
    return out;
}

// Encodes packed RGBA as PNG with libpng's simplified interface.
inline std::vector<std::uint8_t> encodePngRgba(const std::vector<std::uint8_t>& px, int w, int h) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, px.data(), 0, nullptr))
        throw std::runtime_error("png size");
    std::vector<std::uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, px.data(), 0, nullptr))
        throw std::runtime_error("png write");
    out.resize(size);
    return out;
}

} // namespace fixtures
