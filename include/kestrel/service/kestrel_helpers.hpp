/// \file
/// Image preparation before a photo is sent for recognition: scaling to the send width and
/// greying.
#pragma once

#include <kestrel/platform/bitmap.hpp>

#include <memory>

namespace kestrel {

/// Scales the image so that its longer side (in points) equals sendWidth, enlarging it when it is
/// smaller: the factor is sendWidth divided by the longer side, and the new size keeps the
/// fractions that gives (point size unrounded; pixels rounded, at scale 1). Colour and alpha are
/// kept; when useBlackAndWhite is true the result is the grey image imageToGrayScale would make
/// of it, computed in the same pass. Runs on the caller's thread and keeps no state.
/// Returns the same pointer, untouched, when the image has no pixels or a zero, negative or
/// non-finite size, when sendWidth is not a positive finite number, or when the result would be
/// too large to make (see platform::Bitmap::maxPixelCount). When only the greying cannot be done
/// (a side under one pixel), the scaled colour image is returned. Null in, null out.
std::shared_ptr<const platform::Bitmap>
resizeImage(const std::shared_ptr<const platform::Bitmap>& image, CGFloat sendWidth,
            bool useBlackAndWhite);

/// resizeImage with the send width of the configuration ("SDK_IMAGE_SEND_WIDTH") and the stored
/// black-and-white flag, both read afresh at every call (creating KestrelManager::shared() on
/// first use). Same results for bad input as above.
std::shared_ptr<const platform::Bitmap>
resizeImage(const std::shared_ptr<const platform::Bitmap>& image);

/// A grey copy of the image (one 8-bit channel, no alpha, luminance of the colour, transparent
/// parts as over black) whose pixel size is the image's point size truncated to whole pixels.
/// Returns the same pointer, untouched, when that cannot be made (no pixels, a size that is not
/// finite or under one pixel, or too large). Null in, null out.
std::shared_ptr<const platform::Bitmap>
imageToGrayScale(const std::shared_ptr<const platform::Bitmap>& image);

} // namespace kestrel
