// Turns a page into what a hand-held phone camera and the client library would send: the page
// tilted in perspective, scaled, rotated on a cluttered desk, blurred, noisy, unevenly lit,
// perhaps greyed, scaled to the send width and JPEG-compressed. On request it adds what rooms do
// to paper: light falling off across the page, lens vignetting, the soft shadow of the hand or
// phone, a glare spot and a tinted light or paper.
#pragma once

#include <opencv2/core.hpp>

#include <random>
#include <vector>

namespace kestrel::devservice::synth {

struct ShotRange {
    double maxTiltDegrees = 25; // tilt of the page plane away from the camera
    double minScale = 0.3;      // page height / photo height
    double maxScale = 1.0;
    double maxRotationDegrees = 20; // turn of the page within the photo
    double maxBlurSigma = 1.5;
    double maxNoiseSigma = 8;
    double minGain = 0.65, maxGain = 1.3; // brightness
    double greyChance = 0.5;
    int minJpegQuality = 50, maxJpegQuality = 90;
    cv::Size photoSize{750, 1000}; // the send width is the longer side

    // Room light; each is off by default and then draws nothing from the random series, so that
    // the default shots stay the same.
    double minPageFalloff = 0, maxPageFalloff = 0; // brightness lost from one edge of the page to
                                                   // the opposite one (0.5: half as bright)
    double maxVignetting = 0;                      // brightness lost in the photo's corners
    double shadowChance = 0; // a soft-edged shadow of a hand or phone over part of the page
    double minShadowDepth = 0.35, maxShadowDepth = 0.6; // light it takes away
    double glareChance = 0;                             // a washed-out bright spot on the page
    double maxTint = 0; // per-channel loss of a warm light or yellowed paper
};

// A new random shot of page (BGR or grey) within the ranges, as JPEG bytes.
std::vector<unsigned char> photographPage(const cv::Mat& page, std::mt19937& random,
                                          const ShotRange& range = {});

} // namespace kestrel::devservice::synth
