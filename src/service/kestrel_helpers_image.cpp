#include <kestrel/service/kestrel_helpers.hpp>

#include "platform/imaging/planar_image.hpp"
#include "platform/imaging/stored_image.hpp"
#include "service/recognition_request.hpp"

#include <kestrel/platform/graphics.hpp>

#include <algorithm>
#include <cmath>

namespace kestrel {

namespace {

bool usableSize(platform::Size s) {
    return std::isfinite(s.width) && std::isfinite(s.height) && s.width > 0 && s.height > 0;
}

bool usableWidth(CGFloat sendWidth) { return std::isfinite(sendWidth) && sendWidth > 0; }

constexpr CGFloat decodeMargin = 1.5;

// The point size resizeImage draws an image of size w × h at: its longer side becomes sendWidth.
platform::Size sendSize(CGFloat w, CGFloat h, CGFloat sendWidth) {
    const CGFloat widthRatio = sendWidth / w;
    const CGFloat heightRatio = sendWidth / h;
    const CGFloat factor = widthRatio > heightRatio ? heightRatio : widthRatio;
    return {w * factor, h * factor};
}

platform::Size sendSize(const platform::Bitmap& image, CGFloat sendWidth) {
    return sendSize(image.size().width, image.size().height, sendWidth);
}

// The longer side a photo is decoded to before the resampler takes it to the send width: the
// smallest DCT reduction whose longer side is still half as large again as the send width. A
// DCT-domain reduction all the way down loses the detail of small print (SSIM 0.90 against 0.95
// on a 12 MP page photo); leaving the resampler the last 1.5x keeps it for a few per cent more
// time, since most of a decode is the entropy decoding.
int decodedSide(CGFloat sendWidth) {
    return usableWidth(sendWidth) ? static_cast<int>(std::ceil(std::min<CGFloat>(
                                        sendWidth * decodeMargin, platform::Bitmap::maxPixelSide)))
                                  : 0;
}

// A colour JPEG sent in colour: decoded to its planes, scaled and turned as planes and encoded
// from them, without the RGB image of the other path. Empty when the data is not a YCbCr JPEG
// that decodes, or would have to be enlarged: the other path then takes it.
std::optional<std::vector<std::uint8_t>> planarJpegToSend(std::span<const std::uint8_t> bytes,
                                                          CGFloat sendWidth, double quality) {
    if (!usableWidth(sendWidth)) return std::nullopt;
    auto stored = platform::decodeJpegPlanes(bytes, decodedSide(sendWidth));
    if (!stored) return std::nullopt;
    const platform::Size size =
        sendSize(stored->planes[0].width, stored->planes[0].height, sendWidth);
    // Rounded as drawInContext rounds the colour image of the other path.
    auto scaled = platform::scaledPlanes(std::move(stored->planes),
                                         static_cast<int>(std::max(1.0, std::round(size.width))),
                                         static_cast<int>(std::max(1.0, std::round(size.height))));
    if (!scaled) return std::nullopt;
    return platform::jpegFromPlanes(platform::turnedPlanes(std::move(*scaled), stored->orientation),
                                    quality);
}

// True when drawing the image at the send size would only copy it: it has that pixel size
// (rounded as the colour drawing rounds, truncated as the grey one does) and the channels sent.
bool alreadySendable(const platform::Bitmap& image, CGFloat sendWidth, bool gray) {
    if (!image.hasPixels() || !usableSize(image.size()) || !usableWidth(sendWidth)) return false;
    if ((image.format() == platform::PixelFormat::gray8) != gray) return false;
    const platform::Size size = sendSize(image, sendWidth);
    const auto pixels = [gray](CGFloat side) { return gray ? std::trunc(side) : std::round(side); };
    return pixels(size.width) == image.pixelWidth() && pixels(size.height) == image.pixelHeight();
}

} // namespace

std::shared_ptr<const platform::Bitmap>
resizeImage(const std::shared_ptr<const platform::Bitmap>& image, CGFloat sendWidth,
            bool useBlackAndWhite) {
    if (!image || !image->hasPixels() || !usableSize(image->size())) return image;
    if (!usableWidth(sendWidth)) return image;
    const platform::Size newSize = sendSize(*image, sendWidth);

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

namespace service {

std::shared_ptr<const platform::Bitmap> photoToSend(const PhotoSource& photo, CGFloat sendWidth,
                                                    bool useBlackAndWhite) {
    const auto scaled = [&](const std::shared_ptr<const platform::Bitmap>& image) {
        if (image && alreadySendable(*image, sendWidth, useBlackAndWhite)) return image;
        return resizeImage(image, sendWidth, useBlackAndWhite);
    };
    if (const auto* decoded = std::get_if<std::shared_ptr<const platform::Bitmap>>(&photo))
        return scaled(*decoded);

    const int side = decodedSide(sendWidth);
    const auto colour =
        useBlackAndWhite ? platform::DecodedColour::lumaOnly : platform::DecodedColour::asStored;
    platform::StoredImage stored;
    if (const auto* file = std::get_if<std::filesystem::path>(&photo)) {
        if (const auto bytes = platform::readPhotoFile(*file))
            stored = platform::decodeAsStored(*bytes, side, colour);
    } else {
        stored =
            platform::decodeAsStored(std::get<std::span<const std::uint8_t>>(photo), side, colour);
    }
    // Scaled as stored and turned upright once small (the send size does not depend on the
    // turn): a phone's portrait photo costs what a landscape one does.
    auto sent = scaled(stored.bitmap);
    stored.bitmap.reset();
    if (!sent || stored.orientation == 1) return sent;
    return platform::turnedUpright(*sent, stored.orientation);
}

std::variant<std::vector<std::uint8_t>, FailureCause>
jpegToSend(const PhotoSource& photo, CGFloat sendWidth, bool useBlackAndWhite, double quality) {
    if (const auto* file = std::get_if<std::filesystem::path>(&photo)) {
        const auto bytes = platform::readPhotoFile(*file);
        if (!bytes) return FailureCause::unreadablePhoto;
        return jpegToSend(std::span<const std::uint8_t>(*bytes), sendWidth, useBlackAndWhite,
                          quality);
    }
    if (const auto* bytes = std::get_if<std::span<const std::uint8_t>>(&photo);
        bytes && !useBlackAndWhite) {
        if (auto jpeg = planarJpegToSend(*bytes, sendWidth, quality)) return std::move(*jpeg);
    }
    const auto sent = photoToSend(photo, sendWidth, useBlackAndWhite);
    if (!sent) return FailureCause::unreadablePhoto;
    auto jpeg = platform::jpegRepresentation(sent.get(), quality);
    if (!jpeg) return FailureCause::photoNotEncodable;
    return std::move(*jpeg);
}

} // namespace service

} // namespace kestrel
