// Turns a page into what a hand-held phone camera and the client library would send: the page
// tilted in perspective, scaled, rotated on a cluttered desk, blurred, noisy, unevenly lit,
// perhaps greyed, scaled to the send width and JPEG-compressed.
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
};

// A new random shot of page (BGR or grey) within the ranges, as JPEG bytes.
std::vector<unsigned char> photographPage(const cv::Mat& page, std::mt19937& random,
                                          const ShotRange& range = {});

} // namespace kestrel::devservice::synth
