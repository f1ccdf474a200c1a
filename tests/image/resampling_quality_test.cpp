// The scaled pixels against references computed here independently, in double precision: the
// exact area average of each output pixel's rectangle for reductions, bilinear interpolation
// between pixel centres for enlargements. The library works in 14-bit fixed point, so one level
// of difference is allowed.
#include "image/image_fixtures.hpp"
#include "platform/resampler.hpp"

#include <kestrel/platform/graphics.hpp>
#include <kestrel/service/kestrel_helpers.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using kestrel::resizeImage;
using kestrel::platform::Bitmap;
using kestrel::platform::PixelFormat;
using namespace fixtures;

namespace {

using Channels = std::array<double, 4>;

// Premultiplied channels of a source pixel, in [0, 255].
Channels premultiplied(const Bitmap& b, int x, int y) {
    const Rgba c = pixel(b, x, y);
    const bool straight = b.format() == PixelFormat::rgba8 || b.format() == PixelFormat::bgra8;
    const double a = straight ? c.a / 255.0 : 1.0;
    return {c.r * a, c.g * a, c.b * a, double(c.a)};
}

// Exact area average of the source rectangle that output pixel (ox, oy) covers.
Channels areaAverage(const Bitmap& src, int outW, int outH, int ox, int oy) {
    const double fx = double(src.pixelWidth()) / outW, fy = double(src.pixelHeight()) / outH;
    const double x0 = ox * fx, x1 = (ox + 1) * fx, y0 = oy * fy, y1 = (oy + 1) * fy;
    Channels sum{};
    for (int y = int(y0); y < std::min(int(std::ceil(y1)), src.pixelHeight()); ++y) {
        const double wy = std::min(y1, y + 1.0) - std::max(y0, double(y));
        for (int x = int(x0); x < std::min(int(std::ceil(x1)), src.pixelWidth()); ++x) {
            const double w = wy * (std::min(x1, x + 1.0) - std::max(x0, double(x)));
            const Channels c = premultiplied(src, x, y);
            for (int k = 0; k < 4; ++k) sum[k] += w * c[k];
        }
    }
    for (double& v : sum) v /= fx * fy;
    return sum;
}

Channels bilinear(const Bitmap& src, int outW, int outH, int ox, int oy) {
    auto coord = [](int o, int out, int in, int& i0, double& t) {
        double c = (o + 0.5) * in / out - 0.5;
        c = std::clamp(c, 0.0, in - 1.0);
        i0 = std::min(int(c), in - 1);
        t = c - i0;
    };
    int x0, y0;
    double tx, ty;
    coord(ox, outW, src.pixelWidth(), x0, tx);
    coord(oy, outH, src.pixelHeight(), y0, ty);
    const int x1 = std::min(x0 + 1, src.pixelWidth() - 1),
              y1 = std::min(y0 + 1, src.pixelHeight() - 1);
    Channels out{};
    const Channels a = premultiplied(src, x0, y0), b = premultiplied(src, x1, y0),
                   c = premultiplied(src, x0, y1), d = premultiplied(src, x1, y1);
    for (int k = 0; k < 4; ++k)
        out[k] = (a[k] * (1 - tx) + b[k] * tx) * (1 - ty) + (c[k] * (1 - tx) + d[k] * tx) * ty;
    return out;
}

struct Difference {
    double worst = 0, mean = 0;
};

template <typename Reference>
Difference compare(const Bitmap& src, const Bitmap& out, Reference reference) {
    Difference d;
    const int w = out.pixelWidth(), h = out.pixelHeight();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Channels ref = reference(src, w, h, x, y);
            const Rgba got = pixel(out, x, y);
            const double g[4] = {double(got.r), double(got.g), double(got.b), double(got.a)};
            for (int k = 0; k < 4; ++k) {
                const double e = std::abs(g[k] - ref[k]);
                d.worst = std::max(d.worst, e);
                d.mean += e;
            }
        }
    d.mean /= 4.0 * w * h;
    return d;
}

// Standard deviation of a grey or colour (green channel) bitmap over a region.
double deviation(const Bitmap& b, int x0, int y0, int x1, int y1, double* mean = nullptr) {
    double s = 0, s2 = 0;
    const int n = (x1 - x0) * (y1 - y0);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const double v = pixel(b, x, y).g;
            s += v;
            s2 += v * v;
        }
    if (mean) *mean = s / n;
    return std::sqrt(std::max(0.0, s2 / n - (s / n) * (s / n)));
}

} // namespace

TEST(ResamplingQuality, ReductionMatchesTheExactAreaAverage) {
    struct Case {
        int w, h;
        double sendWidth;
    };
    // The camera ratio (4.032×), a factor just above 1, an exact 2×, and a large one.
    for (const Case c :
         {Case{2016, 1512, 500}, Case{611, 409, 500}, Case{800, 600, 400}, Case{3000, 240, 60}}) {
        auto src = rgbaBitmap(c.w, c.h, testCard);
        auto out = resizeImage(src, c.sendWidth, false);
        ASSERT_TRUE(out);
        const Difference d = compare(*src, *out, areaAverage);
        EXPECT_LE(d.worst, 1.0) << c.w << "x" << c.h;
        EXPECT_LT(d.mean, 0.3) << c.w << "x" << c.h;
    }
}

TEST(ResamplingQuality, TranslucentPixelsAreAveragedPremultiplied) {
    auto src = rgbaBitmap(333, 250, [](int x, int y) {
        return Rgba{static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 3), 250,
                    static_cast<std::uint8_t>((x * 13 + y * 5) % 256)};
    });
    for (auto format : {PixelFormat::rgba8, PixelFormat::bgra8}) {
        auto asFormat = format == PixelFormat::rgba8 ? src
                                                     : rgbaBitmap(
                                                           333, 250,
                                                           [&](int x, int y) {
                                                               Rgba c = pixel(*src, x, y);
                                                               return Rgba{c.b, c.g, c.r, c.a};
                                                           },
                                                           PixelFormat::bgra8);
        for (bool avx2 : {true, false}) {
            kestrel::platform::resampling::enableAvx2(avx2);
            auto out = resizeImage(asFormat, 100, false);
            const Difference d = compare(*src, *out, areaAverage);
            EXPECT_LE(d.worst, 1.0);
        }
        kestrel::platform::resampling::enableAvx2(true);
    }
}

TEST(ResamplingQuality, EnlargementMatchesBilinearInterpolation) {
    auto src = rgbaBitmap(250, 180, testCard);
    auto out = resizeImage(src, 1000, false);
    ASSERT_EQ(out->pixelWidth(), 1000);
    ASSERT_EQ(out->pixelHeight(), 720);
    const Difference d = compare(*src, *out, bilinear);
    EXPECT_LE(d.worst, 1.0);
    EXPECT_LT(d.mean, 0.3);
}

TEST(ResamplingQuality, GreySourcesScaleLikeColourOnes) {
    std::vector<std::uint8_t> px(640 * 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) px[y * 640 + x] = testCard(x, y).g;
    auto gray = Bitmap::withPixels(PixelFormat::gray8, 640, 480, 0, std::move(px));
    auto colour = rgbaBitmap(640, 480, [](int x, int y) {
        const auto v = testCard(x, y).g;
        return solid(v, v, v);
    });
    for (bool toGray : {false, true}) {
        auto a = resizeImage(gray, 203, toGray), b = resizeImage(colour, 203, toGray);
        ASSERT_EQ(a->format(), b->format());
        ASSERT_EQ(a->pixelWidth(), b->pixelWidth());
        int worst = 0;
        for (int y = 0; y < a->pixelHeight(); ++y)
            for (int x = 0; x < a->pixelWidth(); ++x)
                worst = std::max(worst, std::abs(pixel(*a, x, y).g - pixel(*b, x, y).g));
        EXPECT_LE(worst, 1);
    }
}

TEST(ResamplingQuality, FineStripesGiveUniformGreyNotMoire) {
    // One-pixel and two-pixel black and white stripes, vertical and horizontal, reduced by the
    // camera factor: every output pixel covers several stripes, so the result must be flat
    // mid-grey. Sampling without averaging gives a beat pattern with a deviation near 100.
    struct Case {
        const char* what;
        std::function<Rgba(int, int)> pattern;
    };
    const Case cases[] = {
        {"1 px vertical", [](int x, int) { return x % 2 ? solid(255, 255, 255) : solid(0, 0, 0); }},
        {"1 px horizontal",
         [](int, int y) { return y % 2 ? solid(255, 255, 255) : solid(0, 0, 0); }},
        {"2 px vertical",
         [](int x, int) { return x / 2 % 2 ? solid(255, 255, 255) : solid(0, 0, 0); }},
        {"1 px checkerboard",
         [](int x, int y) { return (x + y) % 2 ? solid(255, 255, 255) : solid(0, 0, 0); }},
    };
    for (const Case& c : cases) {
        auto src = rgbaBitmap(2016, 1512, c.pattern);
        for (bool toGray : {false, true}) {
            auto out = resizeImage(src, 500, toGray);
            double mean = 0;
            const double sd = deviation(*out, 0, 0, out->pixelWidth(), out->pixelHeight(), &mean);
            EXPECT_NEAR(mean, 127.5, 2.0) << c.what;
            EXPECT_LT(sd, 4.0) << c.what << (toGray ? " grey" : " colour");
        }
    }
}
