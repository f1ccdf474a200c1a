#include "platform/imaging/image_fixtures.hpp"
#include "platform/imaging/resampler.hpp"

#include <kestrel/platform/graphics.hpp>
#include <kestrel/service/kestrel_helpers.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

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

// The colour result keeps the exact point size over a rounded pixel grid; the grey one truncates
// both.
TEST(ResizeImage, LongerSideBecomesTheSendWidth) {
    struct Case {
        double w, h, sendWidth;
        Size expected;
        int pixelW, pixelH, greyW, greyH;
    };
    const Case cases[] = {
        {4000, 3000, 1000, {1000, 750}, 1000, 750, 1000, 750},
        {3000, 4000, 1000, {750, 1000}, 750, 1000, 750, 1000},
        {500, 250, 1000, {1000, 500}, 1000, 500, 1000, 500},            // enlarged
        {3000, 1000, 1000, {1000, 1000.0 / 3.0}, 1000, 333, 1000, 333}, // fraction kept
        {300, 200, 100.5, {100.5, 67}, 101, 67, 100, 67},               // fractional send width
        {1001, 1501, 1000, {1001 * (1000.0 / 1501), 1000}, 667, 1000, 666, 1000}, // 666.89 wide
        {1, 100000, 1000, {0.01, 1000}, 1, 1000, 0, 0}, // a sliver: no 10^8-pixel intermediate
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
        if (c.greyW == 0) continue; // narrower than a pixel: no grey bitmap can be made
        auto grey = resizeImage(sized(c.w, c.h), c.sendWidth, true);
        EXPECT_EQ(grey->format(), PixelFormat::gray8);
        EXPECT_EQ(grey->size(), (Size{double(c.greyW), double(c.greyH)})) << c.w << "x" << c.h;
        EXPECT_EQ(grey->pixelWidth(), c.greyW) << c.w << "x" << c.h;
        EXPECT_EQ(grey->pixelHeight(), c.greyH) << c.w << "x" << c.h;
    }
}

// Greying keeps the point size, truncated to whole pixels: a bitmap at scale 2 gives half its
// pixels.
TEST(ImageToGrayScale, PointSizeTruncatedToWholePixels) {
    auto gray = imageToGrayScale(sized(750.6, 20.99));
    ASSERT_TRUE(gray);
    EXPECT_EQ(gray->format(), PixelFormat::gray8);
    EXPECT_EQ(gray->pixelWidth(), 750);
    EXPECT_EQ(gray->pixelHeight(), 20);
    std::vector<std::uint8_t> px(40 * 30 * 4, 200);
    gray = imageToGrayScale(Bitmap::withPixels(PixelFormat::rgba8, 40, 30, 0, std::move(px), 2.0));
    EXPECT_EQ(gray->pixelWidth(), 20);
    EXPECT_EQ(gray->pixelHeight(), 15);
}

TEST(ResizeImage, UnusableInputComesBackUnchanged) {
    auto good = sized(400, 300);
    // Sizes zero, NaN and infinite, no pixels; send widths zero, NaN, infinite and so large that
    // the result would pass the pixel limit.
    const std::pair<std::shared_ptr<const Bitmap>, double> cases[] = {
        {sized(0, 300), 1000},
        {sized(kNaN, 300), 1000},
        {sized(400, kInf), 1000},
        {Bitmap::placeholder({400, 300}), 1000},
        {good, 0},
        {good, kNaN},
        {good, kInf},
        {good, 1e6}};
    for (const auto& [image, sendWidth] : cases) {
        for (bool gray : {false, true})
            EXPECT_EQ(resizeImage(image, sendWidth, gray), image) << sendWidth << gray;
        if (sendWidth == 1000) {
            EXPECT_EQ(imageToGrayScale(image), image);
        }
    }
    EXPECT_EQ(resizeImage(nullptr, 1000, true), nullptr);
    EXPECT_EQ(imageToGrayScale(nullptr), nullptr);
    auto tiny = sized(0.5, 0.5);
    EXPECT_EQ(imageToGrayScale(tiny), tiny);
}

// Every output pixel, colour or grey, against the reference, with and without AVX2.
TEST(ResamplingQuality, ReductionMatchesTheReferenceOnBothPaths) {
    struct Case {
        const char* what;
        std::shared_ptr<const Bitmap> src;
        double sendWidth;
        int outH;
        bool grey; // the grey result has the same pixel grid, so it is checked too
    };
    const auto greyCard = [](int w, int h) {
        std::vector<std::uint8_t> card;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) card.push_back(testCard(x, y).g);
        return Bitmap::withPixels(PixelFormat::gray8, w, h, 0, card);
    };
    const auto premultipliedTranslucent = [](int x, int y) {
        Rgba c = translucent(x, y);
        for (std::uint8_t* v : {&c.r, &c.g, &c.b}) *v = static_cast<std::uint8_t>(*v * c.a / 255);
        return c;
    };
    // The camera ratio (4.032×), a factor just above 1, none, translucent pixels (averaged
    // premultiplied) in each channel order and alpha kind, and grey sources (a short kernel and a
    // row that does not end on four pixels, a long kernel). The grey results also weigh the three
    // colours and read translucent pixels as over black.
    const Case cases[] = {
        {"camera", rgbaBitmap(2016, 1512, testCard), 500, 375, true},
        {"just above 1", rgbaBitmap(611, 409, testCard), 500, 335, false},
        {"translucent RGBA", rgbaBitmap(333, 250, translucent), 100, 75, false},
        {"translucent BGRA", rgbaBitmap(400, 300, translucent, PixelFormat::bgra8), 100, 75, true},
        {"unscaled BGRA", rgbaBitmap(400, 300, translucent, PixelFormat::bgra8), 400, 300, true},
        {"premultiplied",
         rgbaBitmap(400, 300, premultipliedTranslucent, PixelFormat::rgba8Premultiplied), 100, 75,
         true},
        {"grey", greyCard(400, 300), 100, 75, true},
        {"grey, halved", greyCard(402, 300), 201, 150, true},
    };
    for (bool avx2 : {true, false}) {
        kestrel::platform::resampling::enableAvx2(avx2);
        for (const Case& c : cases) {
            for (bool grey : {false, true}) {
                if (grey && !c.grey) continue;
                const std::string what =
                    c.what + std::string(grey ? " to grey" : "") + (avx2 ? " (AVX2)" : "");
                auto out = resizeImage(c.src, c.sendWidth, grey);
                ASSERT_TRUE(out) << what;
                ASSERT_EQ(out->pixelWidth(), int(c.sendWidth)) << what;
                ASSERT_EQ(out->pixelHeight(), c.outH) << what;
                double worst = 0, mean = 0;
                for (int y = 0; y < c.outH; ++y)
                    for (int x = 0; x < out->pixelWidth(); ++x) {
                        const Channels ref = reference(*c.src, out->pixelWidth(), c.outH, x, y);
                        const Rgba got = pixel(*out, x, y);
                        const double g[4] = {double(got.r), double(got.g), double(got.b),
                                             double(got.a)};
                        const double luma = 0.299 * ref[0] + 0.587 * ref[1] + 0.114 * ref[2];
                        for (int k = 0; k < (grey ? 1 : 4); ++k) {
                            worst = std::max(worst, std::abs(g[k] - (grey ? luma : ref[k])));
                            mean += std::abs(g[k] - (grey ? luma : ref[k]));
                        }
                    }
                // Fixed-point weights (8 bits across rows) move a value by at most a step or two
                // where it changes sharply.
                EXPECT_LE(worst, 2.0) << what;
                EXPECT_LT(mean / ((grey ? 1.0 : 4.0) * out->pixelWidth() * c.outH), 0.3) << what;
            }
        }
    }
    kestrel::platform::resampling::enableAvx2(true);
}
