#include <kestrel/platform/graphics.hpp>

#include "platform/imaging/planar_image.hpp"
#include "platform/imaging/resampler.hpp"

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrel::platform {

namespace {

// A context side in pixels, or 0 when it cannot be made.
int contextSide(double side) {
    if (!std::isfinite(side) || side < 1.0 || side > Bitmap::maxPixelSide) return 0;
    return static_cast<int>(side);
}

bool contextFits(int width, int height) {
    return width > 0 && height > 0 && std::int64_t{width} * height <= Bitmap::maxPixelCount;
}

std::shared_ptr<const Bitmap> render(const Bitmap& bitmap, Size span, int width, int height,
                                     resampling::Output output, PixelFormat format,
                                     Size pointSize) {
    const std::size_t stride = static_cast<std::size_t>(width) * bytesPerPixel(format);
    std::vector<std::uint8_t> pixels(stride * static_cast<std::size_t>(height));
    resampling::draw(bitmap, span.width, span.height, width, height, output, pixels.data(), stride);
    auto result = Bitmap::withPixels(format, width, height, stride, std::move(pixels));
    if (result && pointSize != result->size()) return result->withPointSize(pointSize, 1.0);
    return result;
}

} // namespace

std::shared_ptr<const Bitmap> drawInContext(const Bitmap* bitmap, Size size) {
    if (bitmap == nullptr || !bitmap->hasPixels()) return nullptr;
    if (!std::isfinite(size.width) || !std::isfinite(size.height)) return nullptr;
    // The drawing fills the rounded pixel grid; the point size stays exactly what was asked.
    const int width = contextSide(std::max(1.0, std::round(size.width)));
    const int height = contextSide(std::max(1.0, std::round(size.height)));
    if (size.width <= 0 || size.height <= 0 || !contextFits(width, height)) return nullptr;
    return render(*bitmap, {double(width), double(height)}, width, height,
                  resampling::Output::rgbaPremultiplied, PixelFormat::rgba8Premultiplied, size);
}

std::shared_ptr<const Bitmap> drawInGrayContext(const Bitmap* bitmap, Size size) {
    if (bitmap == nullptr || !bitmap->hasPixels()) return nullptr;
    const int width = contextSide(size.width);
    const int height = contextSide(size.height);
    if (!contextFits(width, height)) return nullptr;
    return render(*bitmap, size, width, height, resampling::Output::gray, PixelFormat::gray8,
                  {double(width), double(height)});
}

namespace {

struct TjDeleter {
    void operator()(void* h) const { tjDestroy(h); }
};

// The encoder's quality scale (1..100) for a quality in [0, 1].
int qualityPercent(double quality) {
    return std::clamp(static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100.0)), 1, 100);
}

std::optional<std::vector<std::uint8_t>> taken(int rc, unsigned char* jpeg,
                                               unsigned long jpegSize) {
    std::optional<std::vector<std::uint8_t>> result;
    if (rc == 0 && jpeg != nullptr && jpegSize > 0) result.emplace(jpeg, jpeg + jpegSize);
    tjFree(jpeg);
    return result;
}

bool hasTranslucentPixels(const Bitmap& b) {
    for (int y = 0; y < b.pixelHeight(); ++y) {
        const std::uint8_t* row = b.row(y);
        for (int x = 0; x < b.pixelWidth(); ++x)
            if (row[x * 4 + 3] != 255) return true;
    }
    return false;
}

} // namespace

std::optional<std::vector<std::uint8_t>> jpegRepresentation(const Bitmap* bitmap, double quality) {
    if (bitmap == nullptr || !bitmap->hasPixels() || !std::isfinite(quality)) return std::nullopt;
    const int q = qualityPercent(quality);

    const Bitmap* source = bitmap;
    std::shared_ptr<const Bitmap> flattened;
    int pixelFormat = TJPF_GRAY;
    switch (bitmap->format()) {
    case PixelFormat::gray8:
        pixelFormat = TJPF_GRAY;
        break;
    case PixelFormat::rgba8:
    case PixelFormat::rgba8Premultiplied:
        pixelFormat = TJPF_RGBX;
        break;
    case PixelFormat::bgra8:
    case PixelFormat::bgra8Premultiplied:
        pixelFormat = TJPF_BGRX;
        break;
    }
    // Premultiplied colour is already "over black"; straight colour with translucent pixels is
    // flattened first (opaque images, the usual case, are encoded in place).
    const bool straight =
        bitmap->format() == PixelFormat::rgba8 || bitmap->format() == PixelFormat::bgra8;
    if (straight && hasTranslucentPixels(*bitmap)) {
        std::vector<std::uint8_t> px(static_cast<std::size_t>(bitmap->pixelWidth()) * 4 *
                                     bitmap->pixelHeight());
        std::uint8_t* o = px.data();
        for (int y = 0; y < bitmap->pixelHeight(); ++y) {
            const std::uint8_t* row = bitmap->row(y);
            for (int x = 0; x < bitmap->pixelWidth(); ++x, o += 4) {
                const unsigned a = row[x * 4 + 3];
                for (int c = 0; c < 3; ++c)
                    o[c] = static_cast<std::uint8_t>((row[x * 4 + c] * a + 127) / 255);
                o[3] = 255;
            }
        }
        flattened = Bitmap::withPixels(bitmap->format(), bitmap->pixelWidth(),
                                       bitmap->pixelHeight(), 0, std::move(px));
        if (!flattened) return std::nullopt;
        source = flattened.get();
    }

    std::unique_ptr<void, TjDeleter> tj(tjInitCompress());
    if (!tj) return std::nullopt;
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int subsampling = pixelFormat == TJPF_GRAY ? TJSAMP_GRAY : TJSAMP_420;
    const int rc = tjCompress2(tj.get(), source->pixels(), source->pixelWidth(),
                               static_cast<int>(source->stride()), source->pixelHeight(),
                               pixelFormat, &jpeg, &jpegSize, subsampling, q, 0);
    return taken(rc, jpeg, jpegSize);
}

std::optional<std::vector<std::uint8_t>> jpegFromPlanes(const Planes& planes, double quality) {
    if (!std::isfinite(quality) || planes[0].pixels.empty()) return std::nullopt;
    std::unique_ptr<void, TjDeleter> tj(tjInitCompress());
    if (!tj) return std::nullopt;
    const std::array<const unsigned char*, 3> rows = {
        planes[0].pixels.data(), planes[1].pixels.data(), planes[2].pixels.data()};
    const std::array<int, 3> strides = {planes[0].width, planes[1].width, planes[2].width};
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int rc = tjCompressFromYUVPlanes(
        tj.get(), const_cast<const unsigned char**>(rows.data()), planes[0].width, strides.data(),
        planes[0].height, TJSAMP_420, &jpeg, &jpegSize, qualityPercent(quality), 0);
    return taken(rc, jpeg, jpegSize);
}

} // namespace kestrel::platform
