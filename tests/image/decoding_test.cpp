#include "image/image_fixtures.hpp"

#include <kestrel/platform/bitmap.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

using kestrel::platform::Bitmap;
using kestrel::platform::PixelFormat;
using namespace fixtures;

namespace {

// RGB of a 40 × 20 image whose left half is red, right half blue, with a green top-left block
// (8 × 8) marking the origin.
std::vector<std::uint8_t> markedRgb(int w, int h) {
    std::vector<std::uint8_t> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (x < 8 && y < 8)
                fixtures::append(px, {0, 255, 0});
            else if (x < w / 2)
                fixtures::append(px, {255, 0, 0});
            else
                fixtures::append(px, {0, 0, 255});
        }
    return px;
}

bool near(Rgba c, int r, int g, int b) {
    return std::abs(c.r - r) < 40 && std::abs(c.g - g) < 40 && std::abs(c.b - b) < 40;
}

} // namespace

TEST(BitmapDecoding, JpegFromAnIndependentEncoder) {
    const auto jpeg = encodeJpeg(markedRgb(48, 24), 48, 24, 3);
    auto b = Bitmap::fromEncoded(jpeg);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->pixelWidth(), 48);
    EXPECT_EQ(b->pixelHeight(), 24);
    EXPECT_EQ(b->format(), PixelFormat::rgba8Premultiplied);
    EXPECT_TRUE(near(pixel(*b, 2, 2), 0, 255, 0));
    EXPECT_TRUE(near(pixel(*b, 16, 20), 255, 0, 0));
    EXPECT_TRUE(near(pixel(*b, 40, 20), 0, 0, 255));
    EXPECT_EQ(pixel(*b, 40, 20).a, 255);
}

TEST(BitmapDecoding, GreyJpegStaysOneChannel) {
    std::vector<std::uint8_t> px(32 * 16);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint8_t>(i % 32 * 8);
    auto b = Bitmap::fromEncoded(encodeJpeg(px, 32, 16, 1));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->format(), PixelFormat::gray8);
    EXPECT_NEAR(pixel(*b, 31, 3).r, 248, 6);
}

TEST(BitmapDecoding, ExifOrientationIsApplied) {
    // Stored 48 × 24 with the green marker top-left; where the marker ends up tells the turn.
    const auto jpeg = encodeJpeg(markedRgb(48, 24), 48, 24, 3);
    struct Case {
        int orientation;
        bool bigEndian;
        int w, h;   // upright size
        int mx, my; // a pixel inside the marker, upright
    };
    const Case cases[] = {
        {1, false, 48, 24, 3, 3},   {2, true, 48, 24, 44, 3}, {3, false, 48, 24, 44, 20},
        {4, true, 48, 24, 3, 20},   {5, false, 24, 48, 3, 3}, {6, true, 24, 48, 20, 3},
        {7, false, 24, 48, 20, 44}, {8, true, 24, 48, 3, 44},
    };
    for (const Case& c : cases) {
        auto b = Bitmap::fromEncoded(withExifOrientation(jpeg, c.orientation, c.bigEndian));
        ASSERT_TRUE(b) << c.orientation;
        EXPECT_EQ(b->pixelWidth(), c.w) << c.orientation;
        EXPECT_EQ(b->pixelHeight(), c.h) << c.orientation;
        EXPECT_TRUE(near(pixel(*b, c.mx, c.my), 0, 255, 0)) << "orientation " << c.orientation;
    }
    // An out-of-range tag is ignored.
    auto b = Bitmap::fromEncoded(withExifOrientation(jpeg, 9, false));
    ASSERT_TRUE(b);
    EXPECT_TRUE(near(pixel(*b, 3, 3), 0, 255, 0));
}

TEST(BitmapDecoding, JpegShrinksInTheDctDomainToNoLessThanAsked) {
    const auto jpeg = encodeJpeg(markedRgb(800, 600), 800, 600, 3, 80);
    struct Case {
        int asked, w, h;
    };
    for (const Case c : {Case{0, 800, 600}, Case{100, 100, 75}, Case{101, 200, 150},
                         Case{250, 300, 225}, Case{400, 400, 300}, Case{5000, 800, 600}}) {
        auto b = Bitmap::fromEncoded(jpeg, c.asked);
        ASSERT_TRUE(b) << c.asked;
        EXPECT_EQ(b->pixelWidth(), c.w) << c.asked;
        EXPECT_EQ(b->pixelHeight(), c.h) << c.asked;
        EXPECT_GE(std::max(b->pixelWidth(), b->pixelHeight()), std::min(c.asked, 800));
    }
}

TEST(BitmapDecoding, PngIsLosslessAndKeepsStraightAlpha) {
    const auto rgba = makeRgba(7, 5, [](int x, int y) {
        return Rgba{static_cast<std::uint8_t>(x * 30), static_cast<std::uint8_t>(y * 50), 200,
                    static_cast<std::uint8_t>(x == 0 ? 0 : 128 + y)};
    });
    auto b = Bitmap::fromEncoded(encodePngRgba(rgba, 7, 5));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->format(), PixelFormat::rgba8);
    ASSERT_EQ(b->pixelWidth(), 7);
    for (int y = 0; y < 5; ++y)
        EXPECT_EQ(0, std::memcmp(b->row(y), &rgba[static_cast<std::size_t>(y) * 28], 28)) << y;
}

TEST(BitmapDecoding, CorruptOrTruncatedDataGivesNoBitmap) {
    const auto jpeg = encodeJpeg(markedRgb(64, 64), 64, 64, 3);
    const auto png =
        encodePngRgba(makeRgba(16, 16, [](int, int) { return solid(1, 2, 3); }), 16, 16);
    std::vector<std::vector<std::uint8_t>> bad = {
        {},
        {0xFF, 0xD8, 0xFF},
        {'G', 'I', 'F', '8', '9', 'a'},
        std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2),
        std::vector<std::uint8_t>(jpeg.begin(), jpeg.end() - 2), // no EOI marker
        std::vector<std::uint8_t>(png.begin(), png.begin() + png.size() - 20),
        std::vector<std::uint8_t>(png.begin(), png.begin() + 30),
    };
    auto scrambled = jpeg;
    for (std::size_t i = scrambled.size() / 3; i < scrambled.size() - 2; i += 7)
        scrambled[i] ^= 0x5A;
    bad.push_back(scrambled);
    // A header claiming an image far beyond the pixel limit.
    auto huge = jpeg;
    for (std::size_t i = 2; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) { // SOF0: height and width follow
            huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xFF;
            break;
        }
    bad.push_back(huge);
    for (std::size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(Bitmap::fromEncoded(bad[i])) << i;
}

TEST(BitmapDecoding, ReadsFilesAndRefusesMissingOnes) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("kestrel-image-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "page.jpg";
    const auto jpeg = encodeJpeg(markedRgb(40, 30), 40, 30, 3);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()),
               static_cast<std::streamsize>(jpeg.size()));
    auto b = Bitmap::fromFile(path);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->pixelWidth(), 40);
    EXPECT_FALSE(Bitmap::fromFile(dir / "missing.jpg"));
    EXPECT_FALSE(Bitmap::fromFile(dir)); // a directory
    std::filesystem::remove_all(dir);
}
