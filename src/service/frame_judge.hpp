// How the scanner judges a camera frame: how sharp it is and a fingerprint of what it shows, both
// measured on a small grey copy so that a full HD frame costs one pass over its pixels.
#pragma once

#include <kestrel/platform/bitmap.hpp>

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrel::service {

// A thumbnail of the frame, one grey byte per cell of about 30 × 30 pixels of a full HD frame.
struct Fingerprint {
    int width = 0, height = 0;
    std::vector<std::uint8_t> cells;
};

struct FrameLook {
    // Fine detail against all edges, per axis, the weaker axis counting: about 140 for edges one
    // pixel wide on the small copy, falling as edges widen (a motion blur widens them along one
    // axis only, which is why the weaker axis counts).
    double sharpness = 0;
    // What the frame shows, coarsely: views of the same scene have nearly the same thumbnail.
    Fingerprint fingerprint;
};

// The longer side of the copy frames are judged on.
inline constexpr int judgedSide = 256;
// Frames with a shorter side are not judged.
inline constexpr int smallestJudgedSide = 16;

// Empty when the frame has no pixels or a side under smallestJudgedSide.
std::optional<FrameLook> lookAt(const platform::Bitmap& frame);

// How much two views differ: the mean absolute difference of their thumbnails, each taken about
// its own mean and in hundredths of its own contrast so that a change of exposure alone scores
// little, capped at 255. Thumbnails of different shapes (the frame's size changed) differ by 255.
double fingerprintDistance(const Fingerprint& a, const Fingerprint& b);

} // namespace kestrel::service
