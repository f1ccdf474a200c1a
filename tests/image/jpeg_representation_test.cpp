#include "image/image_fixtures.hpp"

#include <kestrel/platform/graphics.hpp>
#include <kestrel/service/kestrel_helpers.hpp>

#include <gtest/gtest.h>

#include <limits>

using kestrel::platform::Bitmap;
using kestrel::platform::jpegRepresentation;
using kestrel::platform::PixelFormat;
using namespace fixtures;

namespace {

std::shared_ptr<const Bitmap> card() {
    static const auto b = rgbaBitmap(320, 240, testCard, PixelFormat::rgba8Premultiplied);
    return b;
}

} // namespace

TEST(JpegRepresentation, DecodesWithAnIndependentDecoder) {
    auto colour = jpegRepresentation(card().get(), 0.8);
    ASSERT_TRUE(colour);
    const Decoded d = decodeJpeg(*colour);
    EXPECT_EQ(d.width, 320);
    EXPECT_EQ(d.height, 240);
    EXPECT_EQ(d.components, 3);

    auto gray = kestrel::imageToGrayScale(card());
    auto grayJpeg = jpegRepresentation(gray.get(), 0.8);
    ASSERT_TRUE(grayJpeg);
    const Decoded g = decodeJpeg(*grayJpeg);
    EXPECT_EQ(g.width, 320);
    EXPECT_EQ(g.height, 240);
    EXPECT_EQ(g.components, 1); // one component, not grey stored as RGB
    // The content survives the round trip.
    double error = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) error += std::abs(g.pixels[y * 320 + x] - gray->row(y)[x]);
    EXPECT_LT(error / (320 * 240), 6.0);
}

TEST(JpegRepresentation, ChannelOrderAndAlphaAsOverBlack) {
    struct Case {
        const char* what;
        Rgba stored;
        PixelFormat format;
        int r, g, b;
    };
    const Case cases[] = {
        {"RGBA red", solid(230, 20, 10), PixelFormat::rgba8, 230, 20, 10},
        {"BGRA red", solid(10, 20, 230), PixelFormat::bgra8, 230, 20, 10},
        {"premultiplied BGRA red", solid(10, 20, 230), PixelFormat::bgra8Premultiplied, 230, 20,
         10},
        {"straight half-transparent white", solid(255, 255, 255, 128), PixelFormat::rgba8, 128, 128,
         128},
        {"transparent green", solid(0, 255, 0, 0), PixelFormat::rgba8, 0, 0, 0},
    };
    for (const Case& c : cases) {
        auto b = rgbaBitmap(
            32, 32, [&](int, int) { return c.stored; }, c.format);
        auto jpeg = jpegRepresentation(b.get(), 0.95);
        ASSERT_TRUE(jpeg) << c.what;
        const Decoded d = decodeJpeg(*jpeg);
        ASSERT_EQ(d.components, 3);
        const std::uint8_t* p = &d.pixels[(16 * 32 + 16) * 3];
        EXPECT_NEAR(p[0], c.r, 4) << c.what;
        EXPECT_NEAR(p[1], c.g, 4) << c.what;
        EXPECT_NEAR(p[2], c.b, 4) << c.what;
    }
}

TEST(JpegRepresentation, QualityChangesSizeMonotonically) {
    std::size_t previous = 0;
    for (double q : {0.05, 0.2, 0.4, 0.6, 0.8, 0.9, 1.0}) {
        auto jpeg = jpegRepresentation(card().get(), q);
        ASSERT_TRUE(jpeg);
        EXPECT_GT(jpeg->size(), previous) << q;
        previous = jpeg->size();
    }
}

TEST(JpegRepresentation, OutOfRangeQualitiesAreClampedNonFiniteGiveNothing) {
    const Bitmap* b = card().get();
    EXPECT_EQ(jpegRepresentation(b, -3), jpegRepresentation(b, 0));
    EXPECT_EQ(jpegRepresentation(b, 7), jpegRepresentation(b, 1));
    EXPECT_NE(jpegRepresentation(b, 0), jpegRepresentation(b, 1));
    EXPECT_FALSE(jpegRepresentation(b, std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(jpegRepresentation(b, std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(jpegRepresentation(b, -std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(jpegRepresentation(nullptr, 0.8));
    EXPECT_FALSE(jpegRepresentation(Bitmap::placeholder({10, 10}).get(), 0.8));
}

TEST(JpegRepresentation, BorrowedFramesWithPaddedRowsEncodeInPlace) {
    // Rows padded to 100 bytes, the padding filled with bright noise that must not show.
    std::vector<std::uint8_t> frame(100 * 20, 0);
    for (int y = 0; y < 20; ++y)
        for (int i = 0; i < 100; ++i) frame[y * 100 + i] = i < 80 ? (i % 4 == 3 ? 255 : 60) : 250;
    auto b = Bitmap::borrowing(PixelFormat::rgba8, 20, 20, 100, frame.data());
    auto jpeg = jpegRepresentation(b.get(), 0.9);
    ASSERT_TRUE(jpeg);
    const Decoded d = decodeJpeg(*jpeg);
    EXPECT_EQ(d.width, 20);
    for (std::uint8_t v : d.pixels) EXPECT_NEAR(v, 60, 3);
}
