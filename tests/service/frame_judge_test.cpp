// How the scanner judges frames: the sharpness it gives focused and blurred copies of one frame,
// and how far apart it puts views of one scene and of different scenes.
#include "platform/imaging/image_fixtures.hpp"
#include "service/frame_judge.hpp"

#include <gtest/gtest.h>

using namespace kestrel::service;
using fixtures::Rgba;

namespace {

struct Shot {
    int blur = 0;         // radius of a soft blur along the rows, as a lens out of focus makes
    bool upright = false; // the card turned a quarter, so that the blur runs down the columns
    double gain = 1;      // exposure
    int shift = 0;        // rows the camera is moved down
};

// A 1024 x 768 grey shot of the test card.
FrameLook look(const Shot& shot) {
    const auto frame = fixtures::rgbaBitmap(1024, 768, [&](int x, int y) {
        if (shot.upright) std::swap(x, y);
        double sum = 0, weights = 0;
        for (int i = -shot.blur; i <= shot.blur; ++i) {
            const double weight = shot.blur + 1 - std::abs(i); // a triangle: no hard edges
            sum += weight * fixtures::testCard(shot.upright ? x : x + i,
                                               (shot.upright ? y + i : y) + shot.shift)
                                .g;
            weights += weight;
        }
        const auto v = static_cast<std::uint8_t>(std::clamp(sum * shot.gain / weights, 0.0, 255.0));
        return Rgba{v, v, v, 255};
    });
    return *lookAt(*frame);
}

} // namespace

TEST(FrameJudge, FramesOutOfFocusScoreBelowFocusedOnes) {
    for (const bool upright : {false, true}) {
        const double focused = look({.upright = upright}).sharpness;
        const double blurred = look({.blur = 16, .upright = upright}).sharpness;
        EXPECT_GT(focused, 120) << upright;
        EXPECT_LT(blurred, focused * 0.7) << upright;
    }
}

TEST(FrameJudge, ViewsOfOneSceneAreCloseAndOtherScenesFar) {
    const FrameLook base = look({});
    EXPECT_EQ(fingerprintDistance(base.fingerprint, base.fingerprint), 0.0);
    EXPECT_LT(fingerprintDistance(base.fingerprint, look({.gain = 0.7}).fingerprint), 2.0);
    EXPECT_GT(fingerprintDistance(base.fingerprint, look({.shift = 80}).fingerprint), 10.0);
    const auto wider = fixtures::rgbaBitmap(1024, 576, fixtures::testCard); // another frame shape
    EXPECT_EQ(fingerprintDistance(base.fingerprint, lookAt(*wider)->fingerprint), 255.0);
    EXPECT_FALSE(lookAt(*fixtures::rgbaBitmap(15, 400, fixtures::testCard)));
}
