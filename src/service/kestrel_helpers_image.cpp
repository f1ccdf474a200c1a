#include <kestrel/service/kestrel_helpers.hpp>

#include <kestrel/platform/graphics.hpp>

#include <cmath>

namespace kestrel {

namespace {

bool usableSize(platform::Size s) {
    return std::isfinite(s.width) && std::isfinite(s.height) && s.width > 0 && s.height > 0;
}

} // namespace

std::shared_ptr<const platform::Bitmap>
resizeImage(const std::shared_ptr<const platform::Bitmap>& image, CGFloat sendWidth,
            bool useBlackAndWhite) {
    if (!image || !image->hasPixels() || !usableSize(image->size())) return image;
    if (!std::isfinite(sendWidth) || sendWidth <= 0) return image;

    const CGFloat w = image->size().width, h = image->size().height;
    const CGFloat widthRatio = sendWidth / w;
    const CGFloat heightRatio = sendWidth / h;
    const CGFloat factor = widthRatio > heightRatio ? heightRatio : widthRatio;
    const platform::Size newSize{w * factor, h * factor};

    if (useBlackAndWhite) {
        // Greying the scaled image draws it into a grey context of its own point size; doing
        // both in one drawing from the source gives the same pixels without the colour copy.
        if (auto gray = platform::drawInGrayContext(image.get(), newSize)) return gray;
    }
    auto scaled = platform::drawInContext(image.get(), newSize);
    return scaled ? scaled : image;
}

std::shared_ptr<const platform::Bitmap>
imageToGrayScale(const std::shared_ptr<const platform::Bitmap>& image) {
    if (!image || !usableSize(image->size())) return image;
    auto gray = platform::drawInGrayContext(image.get(), image->size());
    return gray ? gray : image;
}

} // namespace kestrel
