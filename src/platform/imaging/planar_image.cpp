#include "platform/imaging/planar_image.hpp"

#include "platform/imaging/exif_orientation.hpp"
#include "platform/imaging/resampler.hpp"

#include <kestrel/platform/bitmap.hpp>

#include <utility>

namespace kestrel::platform {

std::optional<Planes> scaledPlanes(Planes planes, int width, int height) {
    const int targets[3][2] = {
        {width, height}, {(width + 1) / 2, (height + 1) / 2}, {(width + 1) / 2, (height + 1) / 2}};
    Planes scaled;
    for (std::size_t i = 0; i < planes.size(); ++i) {
        Plane& from = planes[i];
        Plane& to = scaled[i];
        to.width = targets[i][0];
        to.height = targets[i][1];
        if (to.width <= 0 || to.height <= 0 || to.width > from.width || to.height > from.height)
            return std::nullopt;
        if (to.width == from.width && to.height == from.height) {
            to.pixels = std::move(from.pixels);
            continue;
        }
        const auto source =
            Bitmap::borrowing(PixelFormat::gray8, from.width, from.height,
                              static_cast<std::size_t>(from.width), from.pixels.data());
        if (!source) return std::nullopt;
        to.pixels.resize(static_cast<std::size_t>(to.width) * to.height);
        resampling::draw(*source, to.width, to.height, to.width, to.height,
                         resampling::Output::gray, to.pixels.data(),
                         static_cast<std::size_t>(to.width));
    }
    return scaled;
}

Planes turnedPlanes(Planes planes, int orientation) {
    if (orientation == 1) return planes;
    for (Plane& plane : planes)
        plane.pixels =
            exif::applyOrientation(plane.pixels, plane.width, plane.height, 1, orientation);
    return planes;
}

} // namespace kestrel::platform
