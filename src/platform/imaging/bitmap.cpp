#include <kestrel/platform/bitmap.hpp>

#include <cmath>
#include <utility>

namespace kestrel::platform {

int bytesPerPixel(PixelFormat format) { return format == PixelFormat::gray8 ? 1 : 4; }

namespace {

bool validGeometry(PixelFormat format, int width, int height, std::size_t& stride, CGFloat scale) {
    if (width <= 0 || height <= 0 || width > Bitmap::maxPixelSide || height > Bitmap::maxPixelSide)
        return false;
    if (std::int64_t{width} * height > Bitmap::maxPixelCount) return false;
    if (!std::isfinite(scale) || scale <= 0) return false;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel(format);
    if (stride == 0) stride = rowBytes;
    return stride >= rowBytes && stride <= (std::size_t{1} << 30);
}

} // namespace

std::shared_ptr<const Bitmap> Bitmap::withPixels(PixelFormat format, int width, int height,
                                                 std::size_t stride,
                                                 std::vector<std::uint8_t> pixels, CGFloat scale) {
    if (!validGeometry(format, width, height, stride, scale)) return nullptr;
    const std::size_t needed = stride * static_cast<std::size_t>(height - 1) +
                               static_cast<std::size_t>(width) * bytesPerPixel(format);
    if (pixels.size() < needed) return nullptr;
    auto storage = std::make_shared<const std::vector<std::uint8_t>>(std::move(pixels));
    const std::uint8_t* data = storage->data();
    return assemble(format, width, height, stride, data, scale, true, std::move(storage));
}

std::shared_ptr<const Bitmap> Bitmap::borrowing(PixelFormat format, int width, int height,
                                                std::size_t stride, const std::uint8_t* pixels,
                                                CGFloat scale, std::shared_ptr<const void> owner) {
    if (pixels == nullptr || !validGeometry(format, width, height, stride, scale)) return nullptr;
    return assemble(format, width, height, stride, pixels, scale, false, std::move(owner));
}

std::shared_ptr<Bitmap> Bitmap::assemble(PixelFormat format, int width, int height,
                                         std::size_t stride, const std::uint8_t* pixels,
                                         CGFloat scale, bool ownsPixels,
                                         std::shared_ptr<const void> storage) {
    std::shared_ptr<Bitmap> b(new Bitmap());
    b->size_ = {width / scale, height / scale};
    b->scale_ = scale;
    b->pixelWidth_ = width;
    b->pixelHeight_ = height;
    b->format_ = format;
    b->stride_ = stride;
    b->pixels_ = pixels;
    b->ownsPixels_ = ownsPixels;
    b->storage_ = std::move(storage);
    return b;
}

std::shared_ptr<const Bitmap> Bitmap::withPointSize(Size size, CGFloat scale) const {
    auto b = assemble(format_, pixelWidth_, pixelHeight_, stride_, pixels_, scale, ownsPixels_,
                      storage_); // shares the pixels and what keeps them alive
    b->size_ = size;
    return b;
}

std::shared_ptr<const Bitmap> Bitmap::placeholder(Size size) {
    std::shared_ptr<Bitmap> b(new Bitmap());
    b->size_ = size;
    return b;
}

} // namespace kestrel::platform
