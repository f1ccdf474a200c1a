#include "platform/imaging/image_fixtures.hpp"
#include "platform/imaging/resampler.hpp"

#include <kestrel/platform/graphics.hpp>
#include <kestrel/service/kestrel_helpers.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

using Channels = std::array<double, 4>;

// Premultiplied channels of a source pixel, in [0, 255].
Channels premultiplied(const Bitmap& b, int x, int y) {
    const Rgba c = pixel(b, x, y);
    const bool straight = b.format() == PixelFormat::rgba8 || b.format() == PixelFormat::bgra8;
    const double a = straight ? c.a / 255.0 : 1.0;
    return {c.r * a, c.g * a, c.b * a, double(c.a)};
}

// The reduction kernel, u in output pixels: a sinc under a quarter-cosine window, zero from one
// output pixel on.
double kernel(double u) {
    if (u >= 1) return 0;
    if (u == 0) return 1;
    const double x = std::acos(-1.0) * u;
    return std::sin(x) / x * std::cos(x / 2);
}

// The reduction of the source to outW × outH at output pixel (ox, oy), in double precision and
// directly in two dimensions: output pixel centres map to (o + 0.5) · factor − 0.5, and the
// kernel is cut off at the image edges and renormalised.
Channels reference(const Bitmap& src, int outW, int outH, int ox, int oy) {
    const double fx = double(src.pixelWidth()) / outW, fy = double(src.pixelHeight()) / outH;
    const double cx = (ox + 0.5) * fx - 0.5, cy = (oy + 0.5) * fy - 0.5;
    Channels sum{};
    double total = 0;
    for (int y = std::max(0, int(cy - fy)); y <= std::min(int(cy + fy) + 1, src.pixelHeight() - 1);
         ++y)
        for (int x = std::max(0, int(cx - fx));
             x <= std::min(int(cx + fx) + 1, src.pixelWidth() - 1); ++x) {
            const double w = kernel(std::abs(x - cx) / fx) * kernel(std::abs(y - cy) / fy);
            const Channels c = premultiplied(src, x, y);
            for (int k = 0; k < 4; ++k) sum[k] += w * c[k];
            total += w;
        }
    for (double& v : sum) v /= total;
    return sum;
}

Rgba translucent(int x, int y) {
    return Rgba{static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 3), 250,
                static_cast<std::uint8_t>((x * 13 + y * 5) % 256)};
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
        {500, 250, 1000, {1000, 500}, 1000, 500},            // enlarged
        {3000, 1000, 1000, {1000, 1000.0 / 3.0}, 1000, 333}, // fraction kept in points
        {300, 200, 100.5, {100.5, 67}, 101, 67},             // fractional send width
        {1001, 1501, 1000, {1001 * (1000.0 / 1501), 1000}, 667, 1000},
        {1, 100000, 1000, {0.01, 1000}, 1, 1000}, // a sliver: no 10^8-pixel intermediate
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

TEST(ResizeImage, GreyResultsTruncateThePointSize) {
    // 3000 × 1000 at 1000: 1000 × 333.33 points, grey bitmap 1000 × 333 pixels.
    auto out = resizeImage(sized(3000, 1000), 1000, true);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->format(), PixelFormat::gray8);
    EXPECT_EQ(out->pixelWidth(), 1000);
    EXPECT_EQ(out->pixelHeight(), 333);
    EXPECT_EQ(out->size(), (Size{1000, 333}));
    // 666.89 points wide: the colour image rounds to 667 pixels, the grey one truncates to 666.
    EXPECT_EQ(resizeImage(sized(1001, 1501), 1000, true)->pixelWidth(), 666);

    auto gray = imageToGrayScale(sized(750.6, 20.99));
    ASSERT_TRUE(gray);
    EXPECT_EQ(gray->format(), PixelFormat::gray8);
    EXPECT_EQ(gray->pixelWidth(), 750);
    EXPECT_EQ(gray->pixelHeight(), 20);
    // A bitmap at scale 2 is greyed at its point size: half its pixels.
    std::vector<std::uint8_t> px(40 * 30 * 4, 200);
    gray = imageToGrayScale(Bitmap::withPixels(PixelFormat::rgba8, 40, 30, 0, std::move(px), 2.0));
    EXPECT_EQ(gray->pixelWidth(), 20);
    EXPECT_EQ(gray->pixelHeight(), 15);
}

TEST(ResizeImage, ColourAndAlphaKeptWhenNotGreying) {
    // Left half opaque orange, right half transparent green.
    auto src = rgbaBitmap(
        400, 200, [](int x, int) { return x < 200 ? solid(255, 128, 0) : solid(0, 255, 0, 0); });
    auto out = resizeImage(src, 100, false);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->pixelWidth(), 100);
    EXPECT_EQ(pixel(*out, 10, 25), solid(255, 128, 0));
    EXPECT_EQ(pixel(*out, 90, 25), solid(0, 0, 0, 0));
    // Across the edge the colour is averaged premultiplied: alpha falls off, but what remains is
    // orange at that opacity, with nothing of the transparent green.
    int partial = 0;
    for (int x = 45; x < 55; ++x) {
        const Rgba p = pixel(*out, x, 25);
        partial += p.a > 0 && p.a < 255;
        EXPECT_NEAR(p.r, p.a, 1) << x;
        EXPECT_NEAR(p.g, p.a * 128.0 / 255, 1) << x;
        EXPECT_EQ(p.b, 0) << x;
    }
    EXPECT_GE(partial, 1);
    EXPECT_LE(partial, 2); // the edge is blurred over at most the two pixels that meet there
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

TEST(ResizeImage, UnusableInputComesBackUnchanged) {
    auto good = sized(400, 300);
    struct Case {
        const char* what;
        std::shared_ptr<const Bitmap> image;
        double sendWidth;
    };
    const Case cases[] = {
        {"zero width", sized(0, 300), 1000},
        {"NaN size", sized(kNaN, 300), 1000},
        {"infinite size", sized(400, kInf), 1000},
        {"no pixels", Bitmap::placeholder({400, 300}), 1000},
        {"zero send width", good, 0},
        {"NaN send width", good, kNaN},
        {"infinite send width", good, kInf},
        {"result beyond the pixel limit", good, 1e6},
    };
    for (const Case& c : cases) {
        for (bool gray : {false, true})
            EXPECT_EQ(resizeImage(c.image, c.sendWidth, gray), c.image) << c.what << gray;
        if (c.sendWidth == 1000) {
            EXPECT_EQ(imageToGrayScale(c.image), c.image) << c.what;
        }
    }
    EXPECT_EQ(resizeImage(nullptr, 1000, true), nullptr);
    EXPECT_EQ(imageToGrayScale(nullptr), nullptr);
    auto tiny = sized(0.5, 0.5);
    EXPECT_EQ(imageToGrayScale(tiny), tiny);
}

TEST(ResamplingQuality, ReductionMatchesTheReferenceOnBothPaths) {
    struct Case {
        const char* what;
        std::shared_ptr<const Bitmap> src;
        double sendWidth;
        int outH;
    };
    // The camera ratio (4.032×), a factor just above 1, and translucent pixels (averaged
    // premultiplied).
    const Case cases[] = {
        {"camera", rgbaBitmap(2016, 1512, testCard), 500, 375},
        {"just above 1", rgbaBitmap(611, 409, testCard), 500, 335},
        {"translucent RGBA", rgbaBitmap(333, 250, translucent), 100, 75},
        {"translucent BGRA", rgbaBitmap(333, 250, translucent, PixelFormat::bgra8), 100, 75},
    };
    for (bool avx2 : {true, false}) {
        kestrel::platform::resampling::enableAvx2(avx2);
        for (const Case& c : cases) {
            auto out = resizeImage(c.src, c.sendWidth, false);
            ASSERT_TRUE(out) << c.what;
            ASSERT_EQ(out->pixelWidth(), int(c.sendWidth)) << c.what;
            ASSERT_EQ(out->pixelHeight(), c.outH) << c.what;
            double worst = 0, mean = 0;
            for (int y = 0; y < c.outH; ++y)
                for (int x = 0; x < out->pixelWidth(); ++x) {
                    const Channels ref = reference(*c.src, out->pixelWidth(), c.outH, x, y);
                    const Rgba got = pixel(*out, x, y);
                    const double g[4] = {double(got.r), double(got.g), double(got.b),
                                         double(got.a)};
                    for (int k = 0; k < 4; ++k) {
                        worst = std::max(worst, std::abs(g[k] - ref[k]));
                        mean += std::abs(g[k] - ref[k]);
                    }
                }
            // Fixed-point weights (8 bits across rows) move a value by at most a step or two
            // where it changes sharply.
            EXPECT_LE(worst, 2.0) << c.what << (avx2 ? " (AVX2)" : "");
            EXPECT_LT(mean / (4.0 * out->pixelWidth() * c.outH), 0.3) << c.what;
        }
    }
    kestrel::platform::resampling::enableAvx2(true);
}

TEST(ResamplingQuality, OutputPixelCentresSitOnTheirSourcePositions) {
    // A ramp rising 2 per source pixel, reduced 4×: away from the edges, output pixel o must take
    // the ramp's value at source position (o + 0.5) · 4 − 0.5. Half a source pixel off is a
    // whole step off.
    for (bool avx2 : {true, false}) {
        kestrel::platform::resampling::enableAvx2(avx2);
        for (bool vertical : {false, true}) {
            auto src = rgbaBitmap(vertical ? 64 : 120, vertical ? 120 : 64, [&](int x, int y) {
                const auto v = static_cast<std::uint8_t>(10 + 2 * (vertical ? y : x));
                return solid(v, v, v);
            });
            for (bool toGray : {false, true}) {
                auto out = resizeImage(src, 30, toGray);
                ASSERT_TRUE(out);
                for (int o = 1; o < 29; ++o) {
                    const double expected = 10 + 2 * ((o + 0.5) * 4 - 0.5);
                    const Rgba got = vertical ? pixel(*out, 8, o) : pixel(*out, o, 8);
                    ASSERT_NEAR(got.g, expected, 0.6)
                        << o << (vertical ? " vertical" : " horizontal") << (toGray ? " grey" : "")
                        << (avx2 ? " (AVX2)" : "");
                }
            }
        }
    }
    kestrel::platform::resampling::enableAvx2(true);
}

TEST(ResamplingQuality, FineStripesGiveUniformGreyNotMoire) {
    // One-pixel black and white stripes reduced by the camera factor: every output pixel covers
    // several stripes, so the result must be flat mid-grey. Sampling without averaging gives a
    // beat pattern with a deviation near 100.
    for (bool vertical : {true, false}) {
        auto src = rgbaBitmap(2016, 1512, [&](int x, int y) {
            return (vertical ? x : y) % 2 ? solid(255, 255, 255) : solid(0, 0, 0);
        });
        for (bool toGray : {false, true}) {
            auto out = resizeImage(src, 500, toGray);
            double s = 0, s2 = 0;
            const int n = out->pixelWidth() * out->pixelHeight();
            for (int y = 0; y < out->pixelHeight(); ++y)
                for (int x = 0; x < out->pixelWidth(); ++x) {
                    const double v = pixel(*out, x, y).g;
                    s += v, s2 += v * v;
                }
            const double mean = s / n;
            EXPECT_NEAR(mean, 127.5, 2.0) << vertical;
            EXPECT_LT(std::sqrt(std::max(0.0, s2 / n - mean * mean)), 4.0)
                << (vertical ? "vertical" : "horizontal") << (toGray ? " grey" : " colour");
        }
    }
}
