// The resampler behind the drawing contexts: draws a bitmap's whole pixel extent onto a
// rectangle of a new pixel grid in one pass over the source rows (each output row sums the
// source rows it needs, then reduces that row sum horizontally).
#pragma once

#include <kestrel/platform/bitmap.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel::platform::resampling {

enum class Output {
    rgbaPremultiplied, // four bytes R, G, B, A, alpha premultiplied
    gray,              // one byte of luminance, composited over black
};

// The weights of one axis: for output i, `taps` consecutive source indices from start[i], with
// non-negative integer weights summing to 1 << bits (the unused tail of each list is zero).
struct AxisWeights {
    int bits = 0;
    int taps = 0;
    std::vector<int> start;
    std::vector<std::int16_t> weights; // start.size() × taps
};

// Weights for mapping srcLen source pixels onto [0, span) of the output axis, sampled at
// dstLen output pixels (dstLen ≤ span), output pixel i centred on source position
// (i + 0.5) · srcLen / span − 0.5. A reduction weights the source pixels within one output pixel
// of that centre by a windowed sinc; an enlargement interpolates linearly between the two
// nearest source pixels, the edges repeating the outermost pixel. taps is rounded up to a
// multiple of tapMultiple.
AxisWeights axisWeights(int srcLen, int dstLen, double span, int tapMultiple, int bits);

// Draws `src` (which must have pixels) onto the rectangle (0, 0, spanWidth, spanHeight) of a
// dstWidth × dstHeight grid written to dst (rows dstStride bytes apart). The caller guarantees
// 0 < dstWidth ≤ spanWidth and 0 < dstHeight ≤ spanHeight, so every output pixel is covered.
void draw(const Bitmap& src, double spanWidth, double spanHeight, int dstWidth, int dstHeight,
          Output output, std::uint8_t* dst, std::size_t dstStride);

// Turns the AVX2 path on (when the processor has it) or off, so that tests can run the baseline
// SSE2 path too. Returns whether the processor has AVX2.
bool enableAvx2(bool enabled);

} // namespace kestrel::platform::resampling
