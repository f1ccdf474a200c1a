#include "platform/imaging/exif_orientation.hpp"

#include <cstring>
#include <functional>

namespace kestrel::platform::exif {

namespace {

struct Reader {
    std::span<const std::uint8_t> d;
    bool bigEndian = false;
    bool has(std::size_t at, std::size_t n) const { return at <= d.size() && n <= d.size() - at; }
    unsigned u16(std::size_t at) const {
        return bigEndian ? (d[at] << 8) | d[at + 1] : d[at] | (d[at + 1] << 8);
    }
    std::uint32_t u32(std::size_t at) const {
        return bigEndian
                   ? (std::uint32_t{d[at]} << 24) | (d[at + 1] << 16) | (d[at + 2] << 8) | d[at + 3]
                   : d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) |
                         (std::uint32_t{d[at + 3]} << 24);
    }
};

int orientationInTiff(std::span<const std::uint8_t> tiff) {
    Reader r{tiff};
    if (!r.has(0, 8)) return 1;
    if (tiff[0] == 'M' && tiff[1] == 'M')
        r.bigEndian = true;
    else if (!(tiff[0] == 'I' && tiff[1] == 'I'))
        return 1;
    if (r.u16(2) != 42) return 1;
    const std::size_t ifd = r.u32(4);
    if (!r.has(ifd, 2)) return 1;
    const unsigned entries = r.u16(ifd);
    for (unsigned i = 0; i < entries; ++i) {
        const std::size_t e = ifd + 2 + std::size_t{i} * 12;
        if (!r.has(e, 12)) return 1;
        if (r.u16(e) != 0x0112) continue;
        if (r.u16(e + 2) != 3 || r.u32(e + 4) < 1) return 1; // SHORT, at least one value
        const unsigned v = r.u16(e + 8);
        return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
    }
    return 1;
}

} // namespace

int jpegOrientation(std::span<const std::uint8_t> jpeg) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return 1;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size()) {
        if (jpeg[at] != 0xFF) return 1;
        const std::uint8_t marker = jpeg[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return 1; // image data begins: no EXIF before it
        const std::size_t length = (std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
        if (length < 2 || at + 2 + length > jpeg.size()) return 1;
        const std::span<const std::uint8_t> body = jpeg.subspan(at + 4, length - 2);
        if (marker == 0xE1 && body.size() >= 6 && std::memcmp(body.data(), "Exif\0\0", 6) == 0)
            return orientationInTiff(body.subspan(6));
        at += 2 + length;
    }
    return 1;
}

namespace {

// Copies pixels so that output pixel (x, y) is source pixel first(y) + x * step, step being ±1
// (a mirror) or ±w (a quarter turn): one addition per pixel, whole pixels at a time.
template <typename Pixel>
void remap(const std::uint8_t* source, std::uint8_t* target, int ow, int oh,
           const std::function<std::ptrdiff_t(int)>& first, std::ptrdiff_t step) {
    const auto* from = reinterpret_cast<const Pixel*>(source);
    auto* to = reinterpret_cast<Pixel*>(target);
    for (int y = 0; y < oh; ++y) {
        const Pixel* at = from + first(y);
        Pixel* row = to + static_cast<std::ptrdiff_t>(y) * ow;
        for (int x = 0; x < ow; ++x, at += step) std::memcpy(row + x, at, sizeof(Pixel));
    }
}

struct Pixel4 {
    std::uint8_t bytes[4];
};

} // namespace

std::vector<std::uint8_t> applyOrientation(std::span<const std::uint8_t> pixels, int& width,
                                           int& height, int bpp, int orientation) {
    if (orientation <= 1 || orientation > 8 || (bpp != 1 && bpp != 4))
        return {pixels.begin(), pixels.end()};
    const std::ptrdiff_t w = width, h = height;
    const bool transposed = orientation >= 5;
    const int ow = static_cast<int>(transposed ? h : w), oh = static_cast<int>(transposed ? w : h);
    std::function<std::ptrdiff_t(int)> first;
    std::ptrdiff_t step = 1;
    switch (orientation) {
    case 2: // mirrored left to right
        first = [=](int y) { return y * w + w - 1; }, step = -1;
        break;
    case 3: // turned half round
        first = [=](int y) { return (h - 1 - y) * w + w - 1; }, step = -1;
        break;
    case 4: // mirrored top to bottom
        first = [=](int y) { return (h - 1 - y) * w; };
        break;
    case 5: // mirrored along the main diagonal
        first = [](int y) { return std::ptrdiff_t{y}; }, step = w;
        break;
    case 6: // stored a quarter turn anticlockwise
        first = [=](int y) { return (h - 1) * w + y; }, step = -w;
        break;
    case 7: // mirrored along the other diagonal
        first = [=](int y) { return (h - 1) * w + w - 1 - y; }, step = -w;
        break;
    default: // 8: stored a quarter turn clockwise
        first = [=](int y) { return w - 1 - y; }, step = w;
        break;
    }
    std::vector<std::uint8_t> out(pixels.size());
    if (bpp == 4)
        remap<Pixel4>(pixels.data(), out.data(), ow, oh, first, step);
    else
        remap<std::uint8_t>(pixels.data(), out.data(), ow, oh, first, step);
    width = ow;
    height = oh;
    return out;
}

} // namespace kestrel::platform::exif
