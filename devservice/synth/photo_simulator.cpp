#include "photo_simulator.hpp"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace kestrel::devservice::synth {
namespace {

double uniform(std::mt19937& random, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
}

cv::Scalar randomColour(std::mt19937& random, double low, double high) {
    return {uniform(random, low, high), uniform(random, low, high), uniform(random, low, high)};
}

// A table top: a shaded colour, grain and a few unrelated objects.
cv::Mat paintDesk(cv::Size size, std::mt19937& random) {
    cv::Mat desk(size, CV_8UC3, randomColour(random, 40, 200));
    for (int i = 0; i < 6; ++i) {
        const cv::Point centre(int(uniform(random, 0, size.width)),
                               int(uniform(random, 0, size.height)));
        const int r = int(uniform(random, 20, size.width / 4.0));
        cv::circle(desk, centre, r, randomColour(random, 30, 230), cv::FILLED, cv::LINE_AA);
    }
    cv::Mat grain(size, CV_8UC3);
    cv::RNG(random()).fill(grain, cv::RNG::NORMAL, 0, 10);
    desk += grain;
    cv::GaussianBlur(desk, desk, {0, 0}, 2.0);
    return desk;
}

// Where the page's corners land: the page plane tilted by up to maxTilt about a random axis in
// the plane, turned, and seen by a pinhole camera whose focal length is the photo's longer side.
std::array<cv::Point2f, 4> projectCorners(cv::Size2d page, cv::Size photo, std::mt19937& random,
                                          const ShotRange& range, double scale) {
    constexpr double toRadians = std::numbers::pi / 180.0;
    const double tilt = uniform(random, 0, range.maxTiltDegrees) * toRadians;
    const double axisAngle = uniform(random, 0, 2 * std::numbers::pi);
    const double turn =
        uniform(random, -range.maxRotationDegrees, range.maxRotationDegrees) * toRadians;
    cv::Mat tiltRotation;
    cv::Rodrigues(cv::Vec3d(std::cos(axisAngle) * tilt, std::sin(axisAngle) * tilt, 0),
                  tiltRotation);
    const cv::Matx33d rotation =
        cv::Matx33d(tiltRotation) *
        cv::Matx33d(std::cos(turn), -std::sin(turn), 0, std::sin(turn), std::cos(turn), 0, 0, 0, 1);
    const double focal = std::max(photo.width, photo.height);
    const double halfW = page.width * scale / 2, halfH = page.height * scale / 2;
    const std::array<cv::Vec3d, 4> corners{cv::Vec3d(-halfW, -halfH, 0),
                                           cv::Vec3d(halfW, -halfH, 0), cv::Vec3d(halfW, halfH, 0),
                                           cv::Vec3d(-halfW, halfH, 0)};
    // Keep the page's centre where the page, at its size, still mostly fits.
    const double slackX = std::max(0.0, photo.width / 2.0 - halfW);
    const double slackY = std::max(0.0, photo.height / 2.0 - halfH);
    const cv::Point2d centre(photo.width / 2.0 + uniform(random, -slackX, slackX) * 0.8,
                             photo.height / 2.0 + uniform(random, -slackY, slackY) * 0.8);
    std::array<cv::Point2f, 4> projected;
    for (std::size_t i = 0; i < 4; ++i) {
        const cv::Vec3d p = rotation * corners[i];
        const double depth = focal + p[2];
        projected[i] = cv::Point2f(float(centre.x + focal * p[0] / depth),
                                   float(centre.y + focal * p[1] / depth));
    }
    return projected;
}

double falloffAlong(cv::Point2f direction, cv::Point2f point) {
    return double(direction.x) * point.x + double(direction.y) * point.y;
}

// Multiplies the light falling on the photo by the effects asked for: a fall-off across the page,
// vignetting, and the shadow of a hand or phone reaching in over one edge of the page.
void addRoomLight(cv::Mat& light, const std::array<cv::Point2f, 4>& page, std::mt19937& random,
                  const ShotRange& range) {
    if (range.maxPageFalloff > 0) {
        const double falloff = uniform(random, range.minPageFalloff, range.maxPageFalloff);
        const double angle = uniform(random, 0, 2 * std::numbers::pi);
        const cv::Point2f direction(float(std::cos(angle)), float(std::sin(angle)));
        double low = falloffAlong(direction, page[0]), high = low;
        for (const auto& corner : page) {
            low = std::min(low, falloffAlong(direction, corner));
            high = std::max(high, falloffAlong(direction, corner));
        }
        for (int y = 0; y < light.rows; ++y)
            for (int x = 0; x < light.cols; ++x) {
                const double t =
                    std::clamp((falloffAlong(direction, cv::Point2f(float(x), float(y))) - low) /
                                   std::max(1.0, high - low),
                               0.0, 1.0);
                light.at<float>(y, x) *= float(1 - falloff * t);
            }
    }
    if (range.maxVignetting > 0) {
        const double vignetting = uniform(random, 0, range.maxVignetting);
        const double cx = light.cols / 2.0, cy = light.rows / 2.0;
        const double corner = cx * cx + cy * cy;
        for (int y = 0; y < light.rows; ++y)
            for (int x = 0; x < light.cols; ++x)
                light.at<float>(y, x) *=
                    float(1 - vignetting * ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / corner);
    }
    if (range.shadowChance > 0 && uniform(random, 0, 1) < range.shadowChance) {
        // An arm and hand (or a phone held over the page) seen as a soft capsule of shade that
        // enters across one edge of the page and reaches a third to two thirds into it.
        const auto edge = std::size_t(std::uniform_int_distribution<int>(0, 3)(random));
        const cv::Point2f a = page[edge], b = page[(edge + 1) % 4];
        const cv::Point2f opposite = (page[(edge + 2) % 4] + page[(edge + 3) % 4]) * 0.5f;
        const cv::Point2f entry = a + (b - a) * float(uniform(random, 0.2, 0.8));
        const cv::Point2f inward = opposite - (a + b) * 0.5f;
        const cv::Point2f tip = entry + inward * float(uniform(random, 0.3, 0.65));
        const cv::Point2f outside = entry - inward * 2.0f;
        const double width = cv::norm(b - a) * uniform(random, 0.2, 0.45);
        cv::Mat shade(light.size(), CV_32FC1, cv::Scalar(0));
        cv::line(shade, outside, tip, cv::Scalar(1), std::max(1, int(width)), cv::LINE_AA);
        const double softness = std::max(light.cols, light.rows) * uniform(random, 0.01, 0.05);
        cv::GaussianBlur(shade, shade, {0, 0}, softness);
        const double depth = uniform(random, range.minShadowDepth, range.maxShadowDepth);
        light = light.mul(1 - depth * shade);
    }
}

// A reflection of a lamp on the paper: around a spot on the page, the image fades towards white.
void addGlare(cv::Mat& photo, const std::array<cv::Point2f, 4>& page, std::mt19937& random) {
    const cv::Point2f centre = (page[0] + page[1] + page[2] + page[3]) * 0.25f;
    const float u = float(uniform(random, -0.35, 0.35)), v = float(uniform(random, -0.35, 0.35));
    const cv::Point2f spot = centre + (page[1] - page[0]) * u + (page[3] - page[0]) * v;
    const double radius = std::max(photo.cols, photo.rows) * uniform(random, 0.04, 0.1);
    const double strength = uniform(random, 0.6, 0.95);
    for (int y = 0; y < photo.rows; ++y)
        for (int x = 0; x < photo.cols; ++x) {
            const double d2 = (x - spot.x) * (x - spot.x) + (y - spot.y) * (y - spot.y);
            const float g = float(strength * std::exp(-d2 / (2 * radius * radius)));
            auto& pixel = photo.at<cv::Vec3f>(y, x);
            pixel = pixel * (1 - g) + cv::Vec3f::all(255.0f * g);
        }
}

} // namespace

std::vector<unsigned char> photographPage(const cv::Mat& page, std::mt19937& random,
                                          const ShotRange& range) {
    cv::Mat colourPage;
    if (page.channels() == 1)
        cv::cvtColor(page, colourPage, cv::COLOR_GRAY2BGR);
    else
        colourPage = page;

    const cv::Size photoSize = range.photoSize;
    const double scale = uniform(random, range.minScale, range.maxScale) * photoSize.height /
                         double(colourPage.rows);
    // A camera sees the page through its lens, not through a nearest-pixel lookup: reduce with
    // area averaging first when the page shrinks a lot, then warp.
    cv::Mat source = colourPage;
    if (scale < 0.8) cv::resize(colourPage, source, {}, scale, scale, cv::INTER_AREA);
    const auto corners = projectCorners(colourPage.size(), photoSize, random, range, scale);
    const std::array<cv::Point2f, 4> sourceCorners{
        cv::Point2f(0, 0), cv::Point2f(float(source.cols), 0),
        cv::Point2f(float(source.cols), float(source.rows)), cv::Point2f(0, float(source.rows))};
    const cv::Mat homography = cv::getPerspectiveTransform(sourceCorners.data(), corners.data());

    cv::Mat photo = paintDesk(photoSize, random);
    cv::Mat warped, mask;
    cv::warpPerspective(source, warped, homography, photoSize, cv::INTER_LINEAR);
    cv::warpPerspective(cv::Mat(source.size(), CV_8UC1, cv::Scalar(255)), mask, homography,
                        photoSize, cv::INTER_LINEAR);
    warped.copyTo(photo, mask);

    // Uneven light: an overall gain and a shading ramp in a random direction.
    cv::Mat light(photoSize, CV_32FC1);
    const double gain = uniform(random, range.minGain, range.maxGain);
    const double direction = uniform(random, 0, 2 * std::numbers::pi);
    const double shade = uniform(random, 0, 0.25);
    for (int y = 0; y < light.rows; ++y)
        for (int x = 0; x < light.cols; ++x) {
            const double t =
                (std::cos(direction) * x / light.cols + std::sin(direction) * y / light.rows + 1) /
                2;
            light.at<float>(y, x) = float(gain * (1 - shade * t));
        }
    addRoomLight(light, corners, random, range);
    cv::Mat photoFloat;
    photo.convertTo(photoFloat, CV_32FC3);
    cv::Mat light3;
    cv::merge(std::vector<cv::Mat>{light, light, light}, light3);
    photoFloat = photoFloat.mul(light3);
    if (range.maxTint > 0) {
        // A warm light or yellowed paper loses blue most, green less.
        const double tint = uniform(random, 0, range.maxTint);
        cv::multiply(photoFloat, cv::Scalar(1 - tint, 1 - 0.4 * tint, 1), photoFloat);
    }
    if (range.glareChance > 0 && uniform(random, 0, 1) < range.glareChance)
        addGlare(photoFloat, corners, random);

    const double blur = uniform(random, 0, range.maxBlurSigma);
    if (blur > 0.3) cv::GaussianBlur(photoFloat, photoFloat, {0, 0}, blur);
    cv::Mat noise(photoSize, CV_32FC3);
    cv::RNG(random()).fill(noise, cv::RNG::NORMAL, 0, uniform(random, 0, range.maxNoiseSigma));
    photoFloat += noise;
    photoFloat.convertTo(photo, CV_8UC3);
    if (uniform(random, 0, 1) < range.greyChance) cv::cvtColor(photo, photo, cv::COLOR_BGR2GRAY);

    const int quality =
        std::uniform_int_distribution<int>(range.minJpegQuality, range.maxJpegQuality)(random);
    std::vector<unsigned char> jpeg;
    cv::imencode(".jpg", photo, jpeg, {cv::IMWRITE_JPEG_QUALITY, quality});
    return jpeg;
}

} // namespace kestrel::devservice::synth
