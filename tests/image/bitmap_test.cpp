#include "image/image_fixtures.hpp"

#include <kestrel/platform/bitmap.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using kestrel::platform::Bitmap;
using kestrel::platform::PixelFormat;
using kestrel::platform::Size;

TEST(BitmapFromPixels, BorrowedPixelsAreNeverCopied) {
    std::vector<std::uint8_t> frame(64 * 4 * 10 + 16, 7); // rows padded to 260 bytes
    auto owner = std::make_shared<int>(1);
    auto b =
        Bitmap::borrowing(PixelFormat::bgra8Premultiplied, 64, 10, 260, frame.data(), 2.0, owner);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->pixels(), frame.data());
    EXPECT_FALSE(b->ownsPixels());
    EXPECT_EQ(b->stride(), 260u);
    EXPECT_EQ(b->row(3), frame.data() + 780);
    EXPECT_EQ(b->size(), (Size{32, 5}));
    EXPECT_EQ(owner.use_count(), 2); // the bitmap keeps the host's owner alive
    // A copy with another point size still borrows the same frame.
    auto resized = b->withPointSize({10.5, 3.25}, 1.0);
    EXPECT_EQ(resized->pixels(), frame.data());
    EXPECT_EQ(resized->size(), (Size{10.5, 3.25}));
    b.reset();
    resized.reset();
    EXPECT_EQ(owner.use_count(), 1);
}

TEST(BitmapFromPixels, OwnedPixelsKeepTheirGeometry) {
    std::vector<std::uint8_t> px(5 * 3, 0);
    const std::uint8_t* data = px.data();
    auto b = Bitmap::withPixels(PixelFormat::gray8, 4, 3, 5, std::move(px));
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->ownsPixels());
    EXPECT_EQ(b->pixels(), data); // moved in, not copied
    EXPECT_EQ(b->pixelWidth(), 4);
    EXPECT_EQ(b->pixelHeight(), 3);
    EXPECT_EQ(b->size(), (Size{4, 3}));
    EXPECT_EQ(b->scale(), 1.0);
}

TEST(BitmapFromPixels, RefusesImpossibleGeometry) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        int w, h;
        std::size_t stride, bytes;
        double scale;
    };
    const Case cases[] = {
        {"zero width", 0, 4, 0, 64, 1},
        {"negative height", 4, -1, 0, 64, 1},
        {"stride shorter than a row", 4, 4, 15, 64, 1},
        {"buffer shorter than the rows", 4, 4, 16, 63, 1},
        {"zero scale", 4, 4, 0, 64, 0},
        {"NaN scale", 4, 4, 0, 64, nan},
        {"too many pixels", 65535, 65535, 0, 16, 1},
        {"side too long", 2000000, 1, 0, 16, 1},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(Bitmap::withPixels(PixelFormat::rgba8, c.w, c.h, c.stride,
                                        std::vector<std::uint8_t>(c.bytes), c.scale))
            << c.what;
    }
    std::uint8_t one[4] = {};
    EXPECT_FALSE(Bitmap::borrowing(PixelFormat::rgba8, 1, 1, 4, nullptr)) << "null pixels";
    EXPECT_FALSE(Bitmap::borrowing(PixelFormat::rgba8, 1, 1, 3, one)) << "short stride";
    EXPECT_TRUE(Bitmap::borrowing(PixelFormat::rgba8, 1, 1, 0, one));
}

TEST(BitmapFromPixels, PlaceholderHasASizeButNoPixels) {
    auto b = Bitmap::placeholder({12.5, 3});
    EXPECT_FALSE(b->hasPixels());
    EXPECT_EQ(b->pixelWidth(), 0);
    EXPECT_EQ(b->size(), (Size{12.5, 3}));
}
