#include "image/image_fixtures.hpp"

#include <kestrel/platform/graphics.hpp>
#include <kestrel/service/kestrel_helpers.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using kestrel::imageToGrayScale;
using kestrel::resizeImage;
using kestrel::platform::Bitmap;
using kestrel::platform::PixelFormat;
using kestrel::platform::Size;
using namespace fixtures;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A bitmap whose pixels are irrelevant to the check, with the given point size.
std::shared_ptr<const Bitmap> sized(double w, double h) {
    static const auto pixels = rgbaBitmap(8, 8, [](int, int) { return solid(10, 20, 30); });
    return pixels->withPointSize({w, h}, 1.0);
}

} // namespace

TEST(ResizeImage, LongerSideBecomesTheSendWidth) {
    struct Case {
        double w, h, sendWidth;
        Size expected;
        int pixelW, pixelH;
    };
    const Case cases[] = {
        {4000, 3000, 1000, {1000, 750}, 1000, 750},
        {3000, 4000, 1000, {750, 1000}, 750, 1000},
        {500, 250, 1000, {1000, 500}, 1000, 500}, // enlarged
        {640, 640, 1000, {1000, 1000}, 1000, 1000},
        {2000, 2000, 512, {512, 512}, 512, 512},
        {4032, 3024, 1000, {1000, 750}, 1000, 750},
        {3000, 1000, 1000, {1000, 1000.0 / 3.0}, 1000, 333}, // fraction kept in points
        {1000, 3001, 1000, {1000 * (1000.0 / 3001), 1000}, 333, 1000},
        {300, 200, 100.5, {100.5, 67}, 101, 67}, // fractional send width
        {1001, 1501, 1000, {1001 * (1000.0 / 1501), 1000}, 667, 1000},
    };
    for (const Case& c : cases) {
        auto out = resizeImage(sized(c.w, c.h), c.sendWidth, false);
        ASSERT_TRUE(out);
        EXPECT_DOUBLE_EQ(out->size().width, c.expected.width) << c.w << "x" << c.h;
        EXPECT_DOUBLE_EQ(out->size().height, c.expected.height) << c.w << "x" << c.h;
        EXPECT_EQ(out->pixelWidth(), c.pixelW) << c.w << "x" << c.h;
        EXPECT_EQ(out->pixelHeight(), c.pixelH) << c.w << "x" << c.h;
        EXPECT_EQ(out->scale(), 1.0);
        EXPECT_EQ(out->format(), PixelFormat::rgba8Premultiplied);
    }
}

TEST(ResizeImage, GreyResultIsTruncatedFromThePointSize) {
    // 3000 × 1000 at 1000: 1000 × 333.33 points, grey bitmap 1000 × 333 pixels.
    auto out = resizeImage(sized(3000, 1000), 1000, true);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->format(), PixelFormat::gray8);
    EXPECT_EQ(out->pixelWidth(), 1000);
    EXPECT_EQ(out->pixelHeight(), 333);
    EXPECT_EQ(out->size(), (Size{1000, 333}));
    // 666.89 points wide: the colour image rounds to 667 pixels, the grey one truncates to 666.
    out = resizeImage(sized(1001, 1501), 1000, true);
    EXPECT_EQ(out->pixelWidth(), 666);
}

TEST(ImageToGrayScale, TruncatesThePointSize) {
    auto gray = imageToGrayScale(sized(750.6, 20.99));
    ASSERT_TRUE(gray);
    EXPECT_EQ(gray->format(), PixelFormat::gray8);
    EXPECT_EQ(gray->pixelWidth(), 750);
    EXPECT_EQ(gray->pixelHeight(), 20);
    // A bitmap at scale 2 is greyed at its point size: half its pixels.
    std::vector<std::uint8_t> px(40 * 30 * 4, 200);
    auto retina = Bitmap::withPixels(PixelFormat::rgba8, 40, 30, 0, std::move(px), 2.0);
    gray = imageToGrayScale(retina);
    EXPECT_EQ(gray->pixelWidth(), 20);
    EXPECT_EQ(gray->pixelHeight(), 15);
}

TEST(ResizeImage, ColourAndAlphaKeptWhenNotGreying) {
    // Left half opaque orange, right half transparent.
    auto src = rgbaBitmap(
        400, 200, [](int x, int) { return x < 200 ? solid(255, 128, 0) : solid(0, 255, 0, 0); });
    auto out = resizeImage(src, 100, false);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->pixelWidth(), 100);
    const Rgba left = pixel(*out, 10, 25), right = pixel(*out, 90, 25);
    EXPECT_EQ(left.r, 255);
    EXPECT_EQ(left.g, 128);
    EXPECT_EQ(left.b, 0);
    EXPECT_EQ(left.a, 255);
    EXPECT_EQ(right.a, 0);
    EXPECT_EQ(right.g, 0); // premultiplied: nothing of the transparent green shows
    // The edge falls between two output pixels: neither bleeds into the other.
    EXPECT_EQ(pixel(*out, 49, 25).a, 255);
    EXPECT_EQ(pixel(*out, 49, 25).g, 128);
    EXPECT_EQ(pixel(*out, 50, 25).a, 0);
}

TEST(ResizeImage, BgraFramesComeOutAsRgba) {
    std::vector<std::uint8_t> px;
    for (int i = 0; i < 64 * 64; ++i) fixtures::append(px, {10, 20, 200, 255}); // B G R A
    auto src = Bitmap::withPixels(PixelFormat::bgra8Premultiplied, 64, 64, 0, std::move(px));
    auto out = resizeImage(src, 16, false);
    const Rgba c = pixel(*out, 5, 5);
    EXPECT_EQ(c.r, 200);
    EXPECT_EQ(c.g, 20);
    EXPECT_EQ(c.b, 10);
}

TEST(ImageToGrayScale, GreyOfKnownColours) {
    struct Case {
        const char* name;
        Rgba colour;
        PixelFormat format;
        int grey;
    };
    // 0.299 R + 0.587 G + 0.114 B, transparent as over black.
    const Case cases[] = {
        {"red", solid(255, 0, 0), PixelFormat::rgba8, 76},
        {"green", solid(0, 255, 0), PixelFormat::rgba8, 150},
        {"blue", solid(0, 0, 255), PixelFormat::rgba8, 29},
        {"white", solid(255, 255, 255), PixelFormat::rgba8, 255},
        {"black", solid(0, 0, 0), PixelFormat::rgba8, 0},
        {"transparent white", solid(255, 255, 255, 0), PixelFormat::rgba8, 0},
        {"half-transparent white", solid(255, 255, 255, 128), PixelFormat::rgba8, 128},
        {"red as BGRA", solid(0, 0, 255), PixelFormat::bgra8, 76},
        {"premultiplied half grey", solid(100, 100, 100, 128), PixelFormat::rgba8Premultiplied,
         100},
    };
    for (const Case& c : cases) {
        auto src = rgbaBitmap(
            30, 20, [&](int, int) { return c.colour; }, c.format);
        for (auto& out : {imageToGrayScale(src), resizeImage(src, 12, true)}) {
            ASSERT_TRUE(out) << c.name;
            EXPECT_EQ(out->format(), PixelFormat::gray8) << c.name;
            for (int y = 0; y < out->pixelHeight(); ++y)
                for (int x = 0; x < out->pixelWidth(); ++x)
                    ASSERT_EQ(out->row(y)[x], c.grey) << c.name << " at " << x << "," << y;
        }
    }
}

TEST(ResizeImage, FusedGreyMatchesGreyingTheScaledImage) {
    // Whole-pixel results, as for a camera frame: greying in the same pass as the reduction
    // gives the pixels that greying the reduced colour image gives.
    for (auto [w, h] : {std::pair{2016, 1512}, std::pair{1600, 1200}, std::pair{900, 1200}}) {
        auto src = rgbaBitmap(w, h, testCard);
        auto fused = resizeImage(src, 500, true);
        auto twoSteps = imageToGrayScale(resizeImage(src, 500, false));
        ASSERT_EQ(fused->pixelWidth(), twoSteps->pixelWidth());
        ASSERT_EQ(fused->pixelHeight(), twoSteps->pixelHeight());
        int worst = 0;
        for (int y = 0; y < fused->pixelHeight(); ++y)
            for (int x = 0; x < fused->pixelWidth(); ++x)
                worst = std::max(worst, std::abs(fused->row(y)[x] - twoSteps->row(y)[x]));
        EXPECT_LE(worst, 1) << w << "x" << h; // one rounding of the colour values
    }
}

TEST(ResizeImage, UnusableInputComesBackUnchanged) {
    auto good = sized(400, 300);
    struct Case {
        const char* what;
        std::shared_ptr<const Bitmap> image;
        double sendWidth;
    };
    const Case cases[] = {
        {"zero width", sized(0, 300), 1000},
        {"negative height", sized(400, -3), 1000},
        {"NaN size", sized(kNaN, 300), 1000},
        {"infinite size", sized(400, kInf), 1000},
        {"no pixels", Bitmap::placeholder({400, 300}), 1000},
        {"zero send width", good, 0},
        {"negative send width", good, -1000},
        {"NaN send width", good, kNaN},
        {"infinite send width", good, kInf},
        {"result beyond the pixel limit", good, 1e6},
    };
    for (const Case& c : cases) {
        for (bool gray : {false, true}) {
            auto out = resizeImage(c.image, c.sendWidth, gray);
            EXPECT_EQ(out, c.image) << c.what << (gray ? " (grey)" : "");
        }
    }
    EXPECT_EQ(resizeImage(nullptr, 1000, true), nullptr);
    EXPECT_EQ(imageToGrayScale(nullptr), nullptr);
    for (const Case& c : cases) {
        if (c.sendWidth == 1000) {
            EXPECT_EQ(imageToGrayScale(c.image), c.image) << c.what;
        }
    }
    auto tiny = sized(0.5, 0.5);
    EXPECT_EQ(imageToGrayScale(tiny), tiny);
}

TEST(ResizeImage, ThinImagesNeverMakeHugeBitmaps) {
    // 1 × 100000 scaled to 1000: 0.01 × 1000 points; the pixels are at least one wide.
    std::vector<std::uint8_t> px(100000 * 4, 90);
    auto thin = Bitmap::withPixels(PixelFormat::rgba8Premultiplied, 1, 100000, 0, std::move(px));
    auto out = resizeImage(thin, 1000, false);
    ASSERT_TRUE(out);
    EXPECT_DOUBLE_EQ(out->size().width, 0.01);
    EXPECT_EQ(out->pixelWidth(), 1);
    EXPECT_EQ(out->pixelHeight(), 1000);
    EXPECT_EQ(pixel(*out, 0, 500).g, 90);
    // Greying it would need a context 0 pixels wide: the scaled colour image comes back.
    auto gray = resizeImage(thin, 1000, true);
    ASSERT_TRUE(gray);
    EXPECT_EQ(gray->format(), PixelFormat::rgba8Premultiplied);
    EXPECT_EQ(gray->pixelHeight(), 1000);
    // The same the other way round, and enlarged.
    std::vector<std::uint8_t> wide(3000 * 4, 200);
    auto strip = Bitmap::withPixels(PixelFormat::rgba8Premultiplied, 3000, 1, 0, std::move(wide));
    out = resizeImage(strip, 6000, false);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->pixelWidth(), 6000);
    EXPECT_EQ(out->pixelHeight(), 2);
}
