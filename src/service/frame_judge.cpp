#include "service/frame_judge.hpp"

#include <kestrel/platform/graphics.hpp>

#include <algorithm>
#include <cmath>

namespace kestrel::service {

namespace {

// Fine detail against edges along one axis (rows or columns): the RMS of the second difference
// over the RMS of the first, times 100.
double axisSharpness(const platform::Bitmap& grey, bool alongRows) {
    const int w = grey.pixelWidth(), h = grey.pixelHeight();
    const int dx = alongRows ? 1 : 0, dy = alongRows ? 0 : 1;
    double first = 0, second = 0;
    for (int y = dy; y + dy < h; ++y) {
        const std::uint8_t* above = grey.row(y - dy);
        const std::uint8_t* here = grey.row(y);
        const std::uint8_t* below = grey.row(y + dy);
        for (int x = dx; x + dx < w; ++x) {
            const int before = above[x - dx], centre = here[x], after = below[x + dx];
            const int d1 = after - centre;
            const int d2 = before - 2 * centre + after;
            first += d1 * d1;
            second += d2 * d2;
        }
    }
    // The +1 per pixel keeps a flat, featureless frame from scoring on its noise alone.
    const double pixels = static_cast<double>(w) * h;
    return 100.0 * std::sqrt(second) / std::sqrt(first + pixels);
}

Fingerprint thumbnail(const platform::Bitmap& grey) {
    const int w = std::max(1, grey.pixelWidth() / 4), h = std::max(1, grey.pixelHeight() / 4);
    const auto thumb = platform::drawInGrayContext(&grey, {double(w), double(h)});
    Fingerprint print{w, h, {}};
    if (!thumb) return print;
    print.cells.reserve(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        print.cells.insert(print.cells.end(), thumb->row(y), thumb->row(y) + w);
    return print;
}

} // namespace

std::optional<FrameLook> lookAt(const platform::Bitmap& frame) {
    const int w = frame.pixelWidth(), h = frame.pixelHeight();
    if (!frame.hasPixels() || std::min(w, h) < smallestJudgedSide) return std::nullopt;
    const double factor = std::min(1.0, static_cast<double>(judgedSide) / std::max(w, h));
    // Reading every row of a large frame would cost most of the time: where the reduction is
    // strong (7.5 times for full HD), every second or third row is enough for a copy this small,
    // and the camera's thread gets its frame back sooner.
    const int rowStep = std::max(1, static_cast<int>(1.0 / (3.0 * factor)));
    const auto sampled = platform::Bitmap::borrowing(frame.format(), w, h / rowStep,
                                                     frame.stride() * rowStep, frame.pixels());
    const auto grey =
        platform::drawInGrayContext(sampled.get(), {std::max(1.0, std::floor(w * factor)),
                                                    std::max(1.0, std::floor(h * factor))});
    if (!grey) return std::nullopt;
    return FrameLook{std::min(axisSharpness(*grey, true), axisSharpness(*grey, false)),
                     thumbnail(*grey)};
}

double fingerprintDistance(const Fingerprint& a, const Fingerprint& b) {
    if (a.width != b.width || a.height != b.height || a.cells.empty()) return 255;
    // Each thumbnail about its own mean and in units of its own contrast, so that the camera's
    // exposure moving up or down does not count as a new view. A flat view's contrast is taken
    // as at least minimumContrast grey levels, so that its noise is not magnified.
    constexpr double minimumContrast = 8;
    const auto normalised = [minimumContrast](const std::vector<std::uint8_t>& cells) {
        const double n = static_cast<double>(cells.size());
        double sum = 0, squares = 0;
        for (const std::uint8_t v : cells) sum += v, squares += double(v) * v;
        const double mean = sum / n;
        const double contrast = std::sqrt(std::max(squares / n - mean * mean, 0.0));
        return std::pair{mean, std::max(contrast, minimumContrast)};
    };
    const auto [meanA, contrastA] = normalised(a.cells);
    const auto [meanB, contrastB] = normalised(b.cells);
    double sum = 0;
    for (std::size_t i = 0; i < a.cells.size(); ++i)
        sum += std::abs((a.cells[i] - meanA) / contrastA - (b.cells[i] - meanB) / contrastB);
    return std::min(255.0, 100.0 * sum / static_cast<double>(a.cells.size()));
}

} // namespace kestrel::service
