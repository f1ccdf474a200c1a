// Feeds arbitrary bytes to the JPEG and PNG decoders (EXIF orientation included), whole and with
// a size asked for. Besides sanitizer findings, it stops on a bitmap outside the pixel limits,
// one whose last pixel cannot be read, or a reduced decode smaller than asked for or larger than
// the whole one, or a luminance-only decode of another size than the colour one.
#include <kestrel/platform/bitmap.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

using kestrel::platform::Bitmap;

namespace {
void check(bool condition) {
    if (!condition) std::abort();
}

int longerSide(const Bitmap& bitmap) { return std::max(bitmap.pixelWidth(), bitmap.pixelHeight()); }

void checkBitmap(const Bitmap& bitmap) {
    const int w = bitmap.pixelWidth(), h = bitmap.pixelHeight();
    check(w > 0 && h > 0 && w <= Bitmap::maxPixelSide && h <= Bitmap::maxPixelSide &&
          std::int64_t{w} * h <= Bitmap::maxPixelCount);
    const int lastByte = w * kestrel::platform::bytesPerPixel(bitmap.format()) - 1;
    volatile std::uint8_t last = bitmap.row(h - 1)[lastByte];
    (void)last;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    const int asked = 1 + data[0] * 4; // a send size from the first byte
    const auto whole = Bitmap::fromEncoded(bytes);
    const auto reduced = Bitmap::fromEncoded(bytes, asked);
    const auto luma = Bitmap::fromEncoded(bytes, asked, kestrel::platform::DecodedColour::lumaOnly);
    if (whole) checkBitmap(*whole);
    if (reduced) checkBitmap(*reduced);
    if (luma) checkBitmap(*luma);
    if (luma && reduced) {
        check(luma->pixelWidth() == reduced->pixelWidth() &&
              luma->pixelHeight() == reduced->pixelHeight());
    }
    if (whole && reduced) {
        check(longerSide(*reduced) <= longerSide(*whole));
        check(longerSide(*reduced) >= std::min(asked, longerSide(*whole)));
    }
    return 0;
}
