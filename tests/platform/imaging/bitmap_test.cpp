#include "platform/imaging/image_fixtures.hpp"

#include <kestrel/platform/bitmap.hpp>
#include <kestrel/platform/graphics.hpp>
#include <kestrel/service/kestrel_helpers.hpp>

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <limits>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using kestrel::platform::Bitmap;
using kestrel::platform::jpegRepresentation;
using kestrel::platform::PixelFormat;
using namespace fixtures;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// RGB of an image whose left half is red, right half blue, with a green top-left block (8 × 8)
// marking the origin.
std::vector<std::uint8_t> markedRgb(int w, int h) {
    std::vector<std::uint8_t> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool green = x < 8 && y < 8, red = !green && x < w / 2;
            append(px, {std::uint8_t(red ? 255 : 0), std::uint8_t(green ? 255 : 0),
                        std::uint8_t(red || green ? 0 : 255)});
        }
    return px;
}

bool near(Rgba c, int r, int g, int b) {
    return std::abs(c.r - r) < 40 && std::abs(c.g - g) < 40 && std::abs(c.b - b) < 40;
}

std::shared_ptr<const Bitmap> card() {
    static const auto b = rgbaBitmap(320, 240, testCard, PixelFormat::rgba8Premultiplied);
    return b;
}

// A PNG written here with zlib alone: colour type 6 (RGBA) or 0 (grey), 8 or 16 bits (samples
// given big-endian), filter 0, no colour-space chunk.
std::vector<std::uint8_t> writePng(int w, int h, int colourType,
                                   const std::vector<std::uint8_t>& px, int bitDepth = 8) {
    const int rowBytes = w * (colourType == 6 ? 4 : 1) * bitDepth / 8;
    std::vector<std::uint8_t> raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), px.begin() + y * rowBytes, px.begin() + (y + 1) * rowBytes);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
    packed.resize(packedSize);
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto be32 = [](std::vector<std::uint8_t>& out, unsigned long v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
    };
    const auto chunk = [&](const char* type, const std::vector<std::uint8_t>& data) {
        be32(png, data.size());
        const std::size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        be32(png, crc32(0, png.data() + start, static_cast<uInt>(png.size() - start)));
    };
    std::vector<std::uint8_t> header;
    be32(header, static_cast<unsigned long>(w)), be32(header, static_cast<unsigned long>(h));
    append(header, {std::uint8_t(bitDepth), std::uint8_t(colourType), 0, 0, 0});
    chunk("IHDR", header);
    chunk("IDAT", packed);
    chunk("IEND", {});
    return png;
}

} // namespace

TEST(BitmapFromPixels, RefusesImpossibleGeometry) {
    const auto made = [](int w, int h, std::size_t stride, std::size_t bytes, double scale = 1) {
        return Bitmap::withPixels(PixelFormat::rgba8, w, h, stride,
                                  std::vector<std::uint8_t>(bytes), scale) != nullptr;
    };
    EXPECT_FALSE(made(0, 4, 0, 64)) << "zero width";
    EXPECT_FALSE(made(4, -1, 0, 64)) << "negative height";
    EXPECT_FALSE(made(4, 4, 15, 64)) << "stride shorter than a row";
    EXPECT_FALSE(made(4, 4, 16, 63)) << "buffer shorter than the rows";
    EXPECT_FALSE(made(4, 4, 0, 64, 0)) << "zero scale";
    EXPECT_FALSE(made(4, 4, 0, 64, kNaN)) << "NaN scale";
    EXPECT_FALSE(made(65535, 65535, 0, 16)) << "too many pixels";
    EXPECT_FALSE(made(2000000, 1, 0, 16)) << "side too long";
    std::uint8_t one[4] = {};
    EXPECT_FALSE(Bitmap::borrowing(PixelFormat::rgba8, 1, 1, 4, nullptr)) << "null pixels";
    EXPECT_FALSE(Bitmap::borrowing(PixelFormat::rgba8, 1, 1, 3, one)) << "short stride";
    EXPECT_TRUE(Bitmap::borrowing(PixelFormat::rgba8, 1, 1, 0, one));
}

TEST(BitmapDecoding, JpegFromAnIndependentEncoder) {
    auto b = Bitmap::fromEncoded(encodeJpeg(markedRgb(48, 24), 48, 24, 3));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->pixelWidth(), 48);
    EXPECT_EQ(b->pixelHeight(), 24);
    EXPECT_EQ(b->format(), PixelFormat::rgba8Premultiplied);
    EXPECT_TRUE(near(pixel(*b, 2, 2), 0, 255, 0));
    EXPECT_TRUE(near(pixel(*b, 16, 20), 255, 0, 0));
    EXPECT_TRUE(near(pixel(*b, 40, 20), 0, 0, 255));
    EXPECT_EQ(pixel(*b, 40, 20).a, 255);

    std::vector<std::uint8_t> grey(32 * 16);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<std::uint8_t>(i % 32 * 8);
    b = Bitmap::fromEncoded(encodeJpeg(grey, 32, 16, 1));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->format(), PixelFormat::gray8); // a grey JPEG stays one channel
    EXPECT_NEAR(pixel(*b, 31, 3).r, 248, 6);
}

// PNG keeps its alpha straight (not premultiplied) and a grey PNG stays one channel; a PNG cut
// short is no bitmap.
TEST(BitmapDecoding, PngFromAnIndependentEncoder) {
    std::vector<std::uint8_t> rgba;
    for (int i = 0; i < 6 * 4; ++i)
        append(rgba, {std::uint8_t(i * 10), 200, 30, std::uint8_t(i % 2 ? 255 : 64)});
    const auto png = writePng(6, 4, 6, rgba);
    auto b = Bitmap::fromEncoded(png);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->format(), PixelFormat::rgba8);
    EXPECT_EQ(b->pixelWidth(), 6);
    EXPECT_EQ(b->pixelHeight(), 4);
    EXPECT_EQ(pixel(*b, 3, 2), (Rgba{150, 200, 30, 255}));
    EXPECT_EQ(pixel(*b, 4, 3), (Rgba{220, 200, 30, 64}));
    EXPECT_FALSE(Bitmap::fromEncoded(std::vector<std::uint8_t>(png.begin(), png.end() - 20)));

    std::vector<std::uint8_t> grey(5 * 3);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<std::uint8_t>(i * 17);
    b = Bitmap::fromEncoded(writePng(5, 3, 0, grey));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->format(), PixelFormat::gray8);
    EXPECT_EQ(pixel(*b, 4, 2).r, 14 * 17);

    // 16-bit samples without a colour-space chunk are sRGB like 8-bit ones, not linear light;
    // each sample is written as v × 257, big-endian.
    b = Bitmap::fromEncoded(writePng(1, 1, 6, {200, 200, 100, 100, 30, 30, 255, 255}, 16));
    ASSERT_TRUE(b);
    EXPECT_EQ(pixel(*b, 0, 0), (Rgba{200, 100, 30, 255}));
    b = Bitmap::fromEncoded(writePng(1, 1, 0, {122, 122}, 16));
    ASSERT_TRUE(b);
    EXPECT_EQ(pixel(*b, 0, 0).r, 122);
}

// CMYK and YCCK, as print workflows write them, are ink on white paper. Files with an Adobe
// segment (libjpeg adds one, as Adobe's applications do) store the samples inverted.
TEST(BitmapDecoding, CmykAndYcckAreInkOnPaper) {
    // Paper, cyan, magenta with yellow, half black, black: 16 × 16 patches side by side.
    const int inks[5][4] = {
        {0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 255, 0}, {0, 0, 0, 128}, {0, 0, 0, 255}};
    const Rgba light[5] = {solid(255, 255, 255), solid(0, 255, 255), solid(255, 0, 0),
                           solid(127, 127, 127), solid(0, 0, 0)};
    for (const auto& [stored, adobe] :
         {std::pair{JCS_CMYK, true}, std::pair{JCS_YCCK, true}, std::pair{JCS_CMYK, false}}) {
        std::vector<std::uint8_t> px;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 80; ++x)
                for (int ink : inks[x / 16])
                    px.push_back(static_cast<std::uint8_t>(adobe ? 255 - ink : ink));
        const auto jpeg = encodeJpeg(px, 80, 16, 4, 95, stored, adobe);
        const auto b = Bitmap::fromEncoded(jpeg);
        ASSERT_TRUE(b) << stored;
        EXPECT_EQ(b->format(), PixelFormat::rgba8Premultiplied);
        for (int i = 0; i < 5; ++i) {
            const Rgba got = pixel(*b, i * 16 + 8, 8);
            EXPECT_NEAR(got.r, light[i].r, 3) << stored << adobe << " patch " << i;
            EXPECT_NEAR(got.g, light[i].g, 3) << stored << adobe << " patch " << i;
            EXPECT_NEAR(got.b, light[i].b, 3) << stored << adobe << " patch " << i;
            EXPECT_EQ(got.a, 255);
        }
        EXPECT_EQ(Bitmap::fromEncoded(jpeg, 20)->pixelWidth(), 20); // a quarter-scale decode
    }
}

// A few hundred bytes whose header claims a huge picture are refused before the pixels are
// allocated: the child has far less address space than such a picture needs.
TEST(BitmapDecoding, FilesTooSmallForTheSizeTheyClaimAreRefusedCheaply) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers reserve address space of their own";
#else
    auto jpeg = encodeJpeg(markedRgb(16, 16), 16, 16, 3);
    std::size_t sof = 2;
    while (jpeg[sof + 1] != 0xC0) sof += 2 + (jpeg[sof + 2] << 8 | jpeg[sof + 3]);
    // Height then width, big-endian, from `at` on.
    const auto claim = [](std::vector<std::uint8_t> bytes, std::size_t at, int side) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = std::uint8_t(side >> (i % 2 ? 0 : 8));
        return bytes;
    };
    const auto hugeJpeg = claim(jpeg, sof + 5, 65000), squareJpeg = claim(jpeg, sof + 5, 8192);
    auto png = writePng(2, 2, 0, {1, 2, 3, 4});
    for (int at : {16, 20}) png[at] = png[at + 1] = png[at + 3] = 0, png[at + 2] = 0x20; // 8192
    const auto crc = crc32(0, png.data() + 12, 17);
    for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));

    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{256u << 20, 256u << 20};
        ::setrlimit(RLIMIT_AS, &limit);
        try {
            const bool refused = !Bitmap::fromEncoded(hugeJpeg, 1000) &&
                                 !Bitmap::fromEncoded(squareJpeg) && !Bitmap::fromEncoded(png);
            ::_exit(refused ? 0 : 1);
        } catch (...) {
            ::_exit(2); // an allocation the limit refused
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "exit " << WEXITSTATUS(status);
    EXPECT_TRUE(Bitmap::fromEncoded(jpeg)); // the honest original still decodes
#endif
}

TEST(BitmapDecoding, ExifOrientationIsApplied) {
    // Stored 48 × 24 with the green marker top-left; where the marker ends up tells the turn. The
    // corners are the stored pixels, decoded alike, moved exactly: no row or column is off by one.
    const auto jpeg = encodeJpeg(markedRgb(48, 24), 48, 24, 3);
    const auto stored = Bitmap::fromEncoded(jpeg);
    ASSERT_TRUE(stored);
    struct Case {
        int orientation;
        bool bigEndian;
        int w, h;   // upright size
        int mx, my; // a pixel inside the marker, upright
        int cx, cy; // the stored corner shown top-left; the opposite one ends bottom-right
    };
    for (const Case c :
         {Case{2, true, 48, 24, 44, 3, 47, 0}, Case{3, false, 48, 24, 44, 20, 47, 23},
          Case{4, true, 48, 24, 3, 20, 0, 23}, Case{5, false, 24, 48, 3, 3, 0, 0},
          Case{6, true, 24, 48, 20, 3, 0, 23}, Case{7, true, 24, 48, 20, 44, 47, 23},
          Case{8, false, 24, 48, 3, 44, 47, 0}}) {
        auto b = Bitmap::fromEncoded(withExifOrientation(jpeg, c.orientation, c.bigEndian));
        ASSERT_TRUE(b) << c.orientation;
        EXPECT_EQ(b->pixelWidth(), c.w) << c.orientation;
        EXPECT_EQ(b->pixelHeight(), c.h) << c.orientation;
        EXPECT_TRUE(near(pixel(*b, c.mx, c.my), 0, 255, 0)) << "orientation " << c.orientation;
        EXPECT_EQ(pixel(*b, 0, 0), pixel(*stored, c.cx, c.cy)) << c.orientation;
        EXPECT_EQ(pixel(*b, c.w - 1, c.h - 1), pixel(*stored, 47 - c.cx, 23 - c.cy))
            << c.orientation;
    }
    // Editors write the JFIF segment first and the EXIF one after it.
    auto exifFirst = withExifOrientation(jpeg, 6, true);
    const std::size_t exifEnd = 4 + (exifFirst[4] << 8 | exifFirst[5]);
    const std::size_t jfifEnd =
        exifEnd + 2 + (exifFirst[exifEnd + 2] << 8 | exifFirst[exifEnd + 3]);
    std::rotate(exifFirst.begin() + 2, exifFirst.begin() + exifEnd, exifFirst.begin() + jfifEnd);
    ASSERT_EQ(exifFirst[3], 0xE0); // JFIF now first
    const auto turned = Bitmap::fromEncoded(exifFirst);
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->pixelWidth(), 24);
}

TEST(BitmapDecoding, CorruptOrTruncatedDataGivesNoBitmap) {
    const auto jpeg = encodeJpeg(markedRgb(64, 64), 64, 64, 3);
    auto scrambled = jpeg;
    for (std::size_t i = scrambled.size() / 3; i < scrambled.size() - 2; i += 7)
        scrambled[i] ^= 0x5A;
    const std::vector<std::vector<std::uint8_t>> bad = {
        {},
        {0xFF, 0xD8, 0xFF},
        std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2),
        std::vector<std::uint8_t>(jpeg.begin(), jpeg.end() - 2), // no EOI marker
        scrambled,
    };
    for (std::size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(Bitmap::fromEncoded(bad[i])) << i;
}

// A grey bitmap is written as a one-component JPEG, not grey stored as RGB; the decoder, checked
// above against libjpeg's encoder, reads the output back.
TEST(JpegRepresentation, GreyStaysOneComponent) {
    auto gray = kestrel::imageToGrayScale(card());
    auto grayJpeg = jpegRepresentation(gray.get(), 0.8);
    ASSERT_TRUE(grayJpeg);
    const auto g = Bitmap::fromEncoded(*grayJpeg);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->format(), PixelFormat::gray8);
    EXPECT_EQ(g->pixelWidth(), 320);
    EXPECT_EQ(g->pixelHeight(), 240);
    double error = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) error += std::abs(g->row(y)[x] - gray->row(y)[x]);
    EXPECT_LT(error / (320 * 240), 6.0);
}

// BGRA is read in its own channel order; straight translucent colour is encoded as over black.
TEST(JpegRepresentation, ChannelOrderAndAlphaAsOverBlack) {
    for (const auto& [stored, format, expected] :
         {std::tuple{solid(10, 20, 230), PixelFormat::bgra8, std::array{230, 20, 10}},
          std::tuple{solid(255, 0, 0, 128), PixelFormat::rgba8, std::array{128, 0, 0}}}) {
        const Rgba colour = stored;
        auto jpeg = jpegRepresentation(rgbaBitmap(
                                           32, 32, [&](int, int) { return colour; }, format)
                                           .get(),
                                       0.95);
        ASSERT_TRUE(jpeg);
        const auto d = Bitmap::fromEncoded(*jpeg);
        ASSERT_TRUE(d);
        double sum[3] = {};
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                for (int k = 0; k < 3; ++k) sum[k] += d->row(y)[x * 4 + k];
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(sum[k] / (32 * 32), expected[k], 4) << k;
    }
}

// Higher quality gives a larger file; qualities beyond [0, 1] are clamped, non-finite ones and
// bitmaps without pixels give nothing.
TEST(JpegRepresentation, QualityIsClampedAndChangesTheSize) {
    const Bitmap* b = card().get();
    std::size_t previous = 0;
    for (double q : {0.05, 0.5, 1.0}) {
        auto jpeg = jpegRepresentation(b, q);
        ASSERT_TRUE(jpeg);
        EXPECT_GT(jpeg->size(), previous) << q;
        previous = jpeg->size();
    }
    EXPECT_EQ(jpegRepresentation(b, -3), jpegRepresentation(b, 0));
    EXPECT_EQ(jpegRepresentation(b, 7), jpegRepresentation(b, 1));
    EXPECT_FALSE(jpegRepresentation(b, kNaN));
    EXPECT_FALSE(jpegRepresentation(b, std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(jpegRepresentation(b, -std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(jpegRepresentation(nullptr, 0.8));
    EXPECT_FALSE(jpegRepresentation(Bitmap::placeholder({10, 10}).get(), 0.8));
}
