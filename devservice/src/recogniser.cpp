#include "recogniser.hpp"

#include "binary_index.hpp"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <tuple>
#include <unordered_set>

namespace kestrel::devservice {
namespace {

// ORB distances above this are chance resemblances, whatever the ratio test says.
constexpr float kMaxDistance = 80.0f;
// A photo feature votes for the page of its nearest catalogue feature only when that one is this
// near. In a small catalogue a plain corner (a desk's edge, a bold rule, a picture's texture) often
// has no rival near its nearest feature, so the ratio test lets it vote, and title pages and
// pictures then crowd the right page out of the shortlist; a large catalogue supplies the rivals.
constexpr float kVoteDistance = 60.0f;

constexpr int kLookLongSide = 480;
// A photo never shows print as sharply as the page it was rendered from: lens, focus, motion and
// JPEG soften it. Page features are taken on the page softened by this much (Gaussian sigma, at the
// working size), so that their descriptors lie nearer those of a photo's, for the index's votes and
// the ratio test alike.
constexpr double kPageSoftness = 0.8;
constexpr int kMinPhotoSide = 64;
// The window over which the paper's brightness is estimated, at a quarter of the working size:
// about 7 % of the image, wider than print, narrower than a shadow or a fall-off.
constexpr int kPaperWindow = 11;
// The box over which the photometric check evens out light, in look pixels (applied twice): a
// few lines of print, small against a shadow's or a lamp's fall-off.
constexpr int kLookWindow = 15;
// Contrast (grey levels) below which a window counts as blank paper rather than print.
constexpr float kLookFloor = 4.0f;
// The finest detail compared, in photo pixels: print finer than the photo shows it is blurred away
// on both sides.
constexpr double kDetail = 1.5;
constexpr double kEvenMargin = 0.05;
constexpr double kEvenFloor = 0.2;
// Edges agree more readily than intensities: those of different pages of one layout (the lines of
// text, the staves of a score) run the same way, so edge agreement vouches for the page only well
// above the bar.
constexpr double kEdgeMargin = 0.22;
// A page has large areas of colour when those (darker than this share of the paper's brightness)
// cover this share of it.
constexpr double kColourLevel = 0.8, kColourShare = 0.2;
// Focal lengths a photo can have been taken with, in its longer side: from a long lens to a wide
// one. The camera's axis passes near the middle of the photo, or near the middle of the page when
// the photo was cropped around it: within this share of the photo's sides of either. A homography
// further than kCameraMisfit from every such camera is no view of the page.
constexpr double kFocalRange[2] = {0.5, 2.5};
constexpr double kCentreMargin = 0.1;
constexpr double kCameraMisfit = 0.035;
// A fit whose resemblance falls short but not far (above kRefineFloor) is aligned again on the
// look itself; the refined fit counts only when it clears the bar by kRefinedMargin, since an
// alignment free to follow the photo lifts any page of print a little, the same music engraved at
// another scale most of all.
constexpr double kRefineFloor = 0.3, kRefinedMargin = 0.12;
// The agreeing matches may lie this much further from the best camera view than from the
// homography (root mean square, photo pixels): right pages stay under half a pixel.
constexpr double kCameraStrain = 0.6;

// Subtracts the local mean and divides by the local deviation, so that a page under a shadow, a
// fall-off or a glare spot looks as it does under even light; blank paper stays near zero. Box
// windows applied twice, for speed.
cv::Mat evenOut(const cv::Mat& look) {
    const cv::Size window(kLookWindow, kLookWindow);
    cv::Mat mean, deviation, variance;
    cv::blur(look, mean, window);
    cv::blur(mean, mean, window);
    deviation = look - mean;
    cv::blur(deviation.mul(deviation), variance, window);
    cv::blur(variance, variance, window);
    cv::sqrt(variance + kLookFloor * kLookFloor, variance);
    return deviation / variance;
}

// Normalised cross-correlation of a and b where mask is set.
double correlation(const cv::Mat& a, const cv::Mat& b, const cv::Mat& mask) {
    cv::Scalar aMean, aDeviation, bMean, bDeviation;
    cv::meanStdDev(a, aMean, aDeviation, mask);
    cv::meanStdDev(b, bMean, bDeviation, mask);
    if (aDeviation[0] < 1e-3 || bDeviation[0] < 1e-3) return 0;
    const cv::Mat product = (a - aMean[0]).mul(b - bMean[0]);
    return cv::mean(product, mask)[0] / (aDeviation[0] * bDeviation[0]);
}

// How well the directions of the edges of a and b agree where mask is set: the cosine of the angle
// between their gradients, averaged with the weight of both gradients' strength. Dark print on
// light paper keeps its edges' directions under any light, and where a glare spot washes the
// print out the photo's edges are weak and weigh little; a shadow's soft edge is far weaker than
// print's.
double edgeAgreement(const cv::Mat& a, const cv::Mat& b, const cv::Mat& mask) {
    cv::Mat ax, ay, bx, by, aStrength, bStrength;
    cv::Sobel(a, ax, CV_32F, 1, 0);
    cv::Sobel(a, ay, CV_32F, 0, 1);
    cv::Sobel(b, bx, CV_32F, 1, 0);
    cv::Sobel(b, by, CV_32F, 0, 1);
    cv::magnitude(ax, ay, aStrength);
    cv::magnitude(bx, by, bStrength);
    const double weight = cv::mean(aStrength.mul(bStrength), mask)[0];
    if (weight < 1e-6) return 0;
    return cv::mean(ax.mul(bx) + ay.mul(by), mask)[0] / weight;
}

// The share of a look covered by large areas of colour or pictures: where the mean over a window
// wider than print stays well below the paper's brightness.
double colourShare(const cv::Mat& look) {
    cv::Mat mean;
    cv::blur(look, mean, {kLookWindow, kLookWindow});
    double paper = 0;
    cv::minMaxLoc(mean, nullptr, &paper);
    return cv::countNonZero(mean < kColourLevel * paper) / double(mean.total());
}

cv::Mat lookOf(const cv::Mat& grey) {
    const double factor = double(kLookLongSide) / std::max(grey.cols, grey.rows);
    cv::Mat look;
    cv::resize(grey, look, {}, factor, factor, cv::INTER_AREA);
    return look; // kept as bytes: a quarter of the memory, and it packs small in the catalogue
}

// Where the corners of a rectangle of that size land through the homography, clockwise from the
// top left.
std::vector<cv::Point2f> seenCorners(cv::Size size, const cv::Mat& homography) {
    const std::vector<cv::Point2f> corners{{0, 0},
                                           {float(size.width), 0},
                                           {float(size.width), float(size.height)},
                                           {0, float(size.height)}};
    std::vector<cv::Point2f> seen;
    cv::perspectiveTransform(corners, seen, homography);
    return seen;
}

cv::Mat scaling(double factor) { return cv::Mat(cv::Matx33d(factor, 0, 0, 0, factor, 0, 0, 0, 1)); }

// The photo brought back into a frame over the page through toPhoto (as floats), and where the
// photo shows the page in it, away from the photo's edges.
std::pair<cv::Mat, cv::Mat> bringBack(const cv::Mat& photoGrey, const cv::Mat& toPhoto,
                                      cv::Size frame) {
    cv::Mat unwarped, shown;
    cv::warpPerspective(photoGrey, unwarped, toPhoto, frame,
                        cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
    cv::warpPerspective(cv::Mat(photoGrey.size(), CV_8U, cv::Scalar(255)), shown, toPhoto, frame,
                        cv::INTER_NEAREST | cv::WARP_INVERSE_MAP);
    unwarped.convertTo(unwarped, CV_32F);
    cv::erode(shown, shown, cv::Mat(), {-1, -1}, 2);
    return {unwarped, shown};
}

// Correlation of the page's look with the photo brought back into the page's frame through the
// homography, both evened out, over the part of the page the photo shows. Both are first blurred
// to the detail the photo can show of the page, so that a distant shot is not held to print it
// cannot resolve.
double resemblance(const cv::Mat& pageLook, cv::Size pageSize, const cv::Mat& homography,
                   const cv::Mat& photoGrey) {
    const cv::Mat lookToPhoto = homography * scaling(double(pageLook.cols) / pageSize.width).inv();
    const std::vector<cv::Point2f> seen = seenCorners(pageLook.size(), lookToPhoto);
    const double photoPixelsPerLookPixel =
        std::sqrt(std::abs(cv::contourArea(seen)) / double(pageLook.total()));
    const double detail = std::max(1.0, kDetail / std::max(photoPixelsPerLookPixel, 1e-3));

    auto [unwarped, shown] = bringBack(photoGrey, lookToPhoto, pageLook.size());
    cv::GaussianBlur(unwarped, unwarped, {0, 0}, detail);
    cv::Mat page;
    pageLook.convertTo(page, CV_32F);
    cv::GaussianBlur(page, page, {0, 0}, detail);
    if (std::size_t(cv::countNonZero(shown)) < pageLook.total() / 5) return 0;
    // Under even light the plain correlation also counts large areas of colour, which evening out
    // flattens, so either may vouch for a page that has them. Evening out lifts the resemblance of
    // different pages of one layout too (their blank paper and the texture of their print look
    // alike), so it has to clear the bar by a margin; the plain one counts only if the print
    // agrees at least somewhat, since pages of one layout share their colour areas. On a page of
    // print alone the plain correlation says no more than the evened-out one, and the same print
    // at another scale comes closer to it.
    const double plain = colourShare(page) >= kColourShare ? correlation(page, unwarped, shown) : 0;
    const double even = correlation(evenOut(page), evenOut(unwarped), shown);
    const double edges = edgeAgreement(page, unwarped, shown);
    return std::max({even - kEvenMargin, even >= kEvenFloor ? plain : 0.0, edges - kEdgeMargin});
}

// The homography aligned again by the pictures themselves: the page's look and the photo brought
// back through the homography, both evened out, at half the look's size, are brought to agree by
// maximising their correlation (ECC). Where the matches cover only part of a page (its picture,
// its headline), their fit drifts over the rest and the resemblance falls with it. Empty when the
// two never come to correlate.
cv::Mat refineOnLook(const cv::Mat& pageLook, cv::Size pageSize, const cv::Mat& homography,
                     const cv::Mat& photoGrey) {
    cv::Mat small;
    cv::resize(pageLook, small, {}, 0.5, 0.5, cv::INTER_AREA);
    small.convertTo(small, CV_32F);
    const cv::Mat pageToSmall = scaling(0.5 * pageLook.cols / pageSize.width);
    const cv::Mat smallToPhoto = homography * pageToSmall.inv();
    const auto [unwarped, shown] = bringBack(photoGrey, smallToPhoto, small.size());
    cv::Mat warp = cv::Mat::eye(3, 3, CV_32F);
    try {
        cv::findTransformECC(evenOut(small), evenOut(unwarped), warp, cv::MOTION_HOMOGRAPHY,
                             {cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 30, 1e-4}, shown, 5);
    } catch (const cv::Exception&) {
        return {};
    }
    // warp takes the small copy's points to the brought-back photo's, which smallToPhoto takes on
    // to the photo.
    warp.convertTo(warp, CV_64F);
    return smallToPhoto * warp * pageToSmall;
}

// Divides the image by its paper's brightness, estimated as the brightest level around each pixel
// (print is darker than paper and narrower than the window) smoothed, so that print keeps its
// contrast in a shadow or a fall-off and corner detection does not crowd into the bright part.
cv::Mat flattenLight(const cv::Mat& grey) {
    cv::Mat small, paper;
    cv::resize(grey, small, {}, 0.25, 0.25, cv::INTER_AREA);
    cv::dilate(small, paper,
               cv::getStructuringElement(cv::MORPH_RECT, {kPaperWindow, kPaperWindow}));
    cv::GaussianBlur(paper, paper, {0, 0}, kPaperWindow / 2.0);
    cv::resize(paper, paper, grey.size(), 0, 0, cv::INTER_LINEAR);
    cv::Mat flat;
    cv::divide(grey, cv::max(paper, 16), flat, 230.0);
    return flat;
}

// Features of an image scaled down (never up) so that its longer side is at most longSide, and
// blurred by softness (no blur at 0) after its light is flattened; grey keeps the sharp copy.
Recogniser::Features takeFeatures(const cv::Mat& image, int longSide, int count, double softness) {
    cv::Mat grey;
    if (image.channels() == 3)
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    else if (image.channels() == 4)
        cv::cvtColor(image, grey, cv::COLOR_BGRA2GRAY);
    else
        grey = image;
    const double factor = std::min(1.0, double(longSide) / std::max(grey.cols, grey.rows));
    if (factor < 1.0) cv::resize(grey, grey, {}, factor, factor, cv::INTER_AREA);

    Recogniser::Features features;
    features.grey = grey;
    grey = flattenLight(grey);
    if (softness > 0) cv::GaussianBlur(grey, grey, {0, 0}, softness);
    auto orb = cv::ORB::create(count, 1.2f, 8, 31, 0, 2, cv::ORB::HARRIS_SCORE, 31, 12);
    std::vector<cv::KeyPoint> keypoints;
    orb->detectAndCompute(grey, cv::noArray(), keypoints, features.descriptors);
    features.points.reserve(keypoints.size());
    for (const auto& keypoint : keypoints) features.points.push_back(keypoint.pt);
    features.size = grey.size();
    return features;
}

// Bits set in the four 64-bit words of a 32-byte descriptor difference, counted in parallel
// within each word and added once at the end (each byte of the sum stays below 256).
inline int differingBits(const std::uint64_t* a, const std::uint64_t* b) {
    std::uint64_t total = 0;
    for (int i = 0; i < 4; ++i) {
        std::uint64_t x = a[i] ^ b[i];
        x -= (x >> 1) & 0x5555555555555555ull;
        x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
        total += (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0full;
    }
    return int((total * 0x0101010101010101ull) >> 56);
}

// The nearest and second-nearest row of train for every row of query by Hamming distance, as
// knnMatch with k = 2 gives them; rows of 32 bytes (ORB's) are compared a word at a time.
std::vector<std::vector<cv::DMatch>> nearestTwo(const cv::Mat& query, const cv::Mat& train) {
    if (query.type() != CV_8UC1 || train.type() != CV_8UC1 || query.cols != 32 ||
        train.cols != 32 || !query.isContinuous() || !train.isContinuous()) {
        cv::BFMatcher matcher(cv::NORM_HAMMING);
        std::vector<std::vector<cv::DMatch>> pairs;
        matcher.knnMatch(query, train, pairs, 2);
        return pairs;
    }
    std::vector<std::uint64_t> queryWords(std::size_t(query.rows) * 4),
        trainWords(std::size_t(train.rows) * 4);
    std::memcpy(queryWords.data(), query.data, queryWords.size() * 8);
    std::memcpy(trainWords.data(), train.data, trainWords.size() * 8);
    std::vector<std::vector<cv::DMatch>> pairs(std::size_t(query.rows));
    for (int q = 0; q < query.rows; ++q) {
        const std::uint64_t* words = queryWords.data() + std::size_t(q) * 4;
        int best = INT_MAX, second = INT_MAX, bestRow = -1, secondRow = -1;
        for (int t = 0; t < train.rows; ++t) {
            const int distance = differingBits(words, trainWords.data() + std::size_t(t) * 4);
            if (distance < second) {
                if (distance < best) {
                    second = best, secondRow = bestRow;
                    best = distance, bestRow = t;
                } else {
                    second = distance, secondRow = t;
                }
            }
        }
        auto& pair = pairs[std::size_t(q)];
        if (bestRow >= 0) pair.emplace_back(q, bestRow, float(best));
        if (secondRow >= 0) pair.emplace_back(q, secondRow, float(second));
    }
    return pairs;
}

double cross(cv::Point2f o, cv::Point2f a, cv::Point2f b) {
    return double(a.x - o.x) * (b.y - o.y) - double(a.y - o.y) * (b.x - o.x);
}

// A view of a flat page is a convex quadrilateral with the page's orientation (not mirrored),
// neither a speck nor far larger than the photo, and not stretched beyond what a tilt allows.
bool plausibleView(const cv::Mat& homography, cv::Size page, cv::Size photo) {
    if (homography.empty()) return false;
    const std::vector<cv::Point2f> seen = seenCorners(page, homography);
    for (std::size_t i = 0; i < 4; ++i)
        if (cross(seen[i], seen[(i + 1) % 4], seen[(i + 2) % 4]) <= 0) return false;
    const double area = std::abs(cv::contourArea(seen));
    const double photoArea = double(photo.area());
    if (area < 0.01 * photoArea || area > 6.0 * photoArea) return false;
    const auto length = [&](std::size_t i) { return cv::norm(seen[i] - seen[(i + 1) % 4]); };
    const double top = length(0), right = length(1), bottom = length(2), left = length(3);
    return std::max(top, bottom) < 4 * std::min(top, bottom) &&
           std::max(left, right) < 4 * std::min(left, right);
}

// The camera a homography is nearest to, and how near (the misfit); see cameraView.
struct CameraView {
    double misfit = 1e9;
    double logFocal = 0, cx = 0, cy = 0;   // focal length in the photo's longer side, log
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0; // where the principal point was sought
};

// How far the homography is from every view of a flat page that a camera with square pixels
// takes: such a view is K [r1 r2 t] up to scale, so the first two columns of K^-1 H are
// orthogonal and of equal length. The focal length is sought over lenses from long to wide and
// the principal point around the middles of the photo and of the page seen in it; the misfit is
// the smallest sum of the columns' log length ratio and the cosine of the angle between them.
// Print scaled along one axis (a page set again at a smaller height but the same width) fits a
// homography as well as the page itself but no camera.
CameraView cameraView(const cv::Mat& homography, cv::Size page, cv::Size photo) {
    const cv::Matx33d h(homography);
    const double longSide = std::max(photo.width, photo.height);
    const auto misfit = [&](double logFocal, double cx, double cy) {
        const double f = longSide * std::exp(logFocal);
        const cv::Vec3d c1((h(0, 0) - cx * h(2, 0)) / f, (h(1, 0) - cy * h(2, 0)) / f, h(2, 0));
        const cv::Vec3d c2((h(0, 1) - cx * h(2, 1)) / f, (h(1, 1) - cy * h(2, 1)) / f, h(2, 1));
        const double n1 = cv::norm(c1), n2 = cv::norm(c2);
        if (n1 <= 0 || n2 <= 0) return 1e9;
        return std::abs(std::log(n1 / n2)) + std::abs(c1.dot(c2)) / (n1 * n2);
    };
    std::vector<cv::Point2f> centre{{page.width / 2.0f, page.height / 2.0f}}, seen;
    cv::perspectiveTransform(centre, seen, homography);
    CameraView view;
    view.x0 = std::min(photo.width / 2.0, double(seen[0].x)) - kCentreMargin * photo.width;
    view.x1 = std::max(photo.width / 2.0, double(seen[0].x)) + kCentreMargin * photo.width;
    view.y0 = std::min(photo.height / 2.0, double(seen[0].y)) - kCentreMargin * photo.height;
    view.y1 = std::max(photo.height / 2.0, double(seen[0].y)) + kCentreMargin * photo.height;
    const double lowFocal = std::log(kFocalRange[0]), highFocal = std::log(kFocalRange[1]);
    constexpr int kFocalSteps = 12, kCentreSteps = 6;
    const auto consider = [&](double logFocal, double cx, double cy) {
        const double m = misfit(logFocal, cx, cy);
        if (m >= view.misfit) return false;
        view.misfit = m, view.logFocal = logFocal, view.cx = cx, view.cy = cy;
        return true;
    };
    for (int i = 0; i <= kFocalSteps; ++i)
        for (int gy = 0; gy <= kCentreSteps; ++gy)
            for (int gx = 0; gx <= kCentreSteps; ++gx)
                consider(lowFocal + (highFocal - lowFocal) * i / kFocalSteps,
                         view.x0 + (view.x1 - view.x0) * gx / kCentreSteps,
                         view.y0 + (view.y1 - view.y0) * gy / kCentreSteps);
    // Then a pattern search from the best point of the grid, kept within the same bounds.
    double stepFocal = (highFocal - lowFocal) / kFocalSteps,
           stepX = (view.x1 - view.x0) / kCentreSteps, stepY = (view.y1 - view.y0) / kCentreSteps;
    for (int round = 0; round < 40; ++round) {
        bool moved = false;
        for (const auto& [df, dx, dy] :
             {std::tuple{1, 0, 0}, std::tuple{-1, 0, 0}, std::tuple{0, 1, 0}, std::tuple{0, -1, 0},
              std::tuple{0, 0, 1}, std::tuple{0, 0, -1}}) {
            moved |= consider(std::clamp(view.logFocal + df * stepFocal, lowFocal, highFocal),
                              std::clamp(view.cx + dx * stepX, view.x0, view.x1),
                              std::clamp(view.cy + dy * stepY, view.y0, view.y1));
        }
        if (!moved) stepFocal /= 2, stepX /= 2, stepY /= 2;
    }
    return view;
}

// How much further the agreeing matches lie from the best view of the flat page through a camera
// than from the homography (root mean square, photo pixels). The misfit judges the homography's
// numbers, which matches over part of a page leave loose; this judges where the matches are. The
// camera (focal length and principal point within the view's bounds, turn, position) starts from
// the view and is refined by Levenberg-Marquardt.
double cameraStrain(const std::vector<cv::Point2f>& from, const std::vector<cv::Point2f>& to,
                    const cv::Mat& homography, const CameraView& view, cv::Size photo) {
    const std::size_t n = from.size();
    if (n == 0) return 0;
    const double longSide = std::max(photo.width, photo.height);
    // Parameters: log focal length, principal point, turn (Rodrigues), position.
    using Camera = std::array<double, 9>;
    Camera camera{view.logFocal, view.cx, view.cy};
    {
        const double f = longSide * std::exp(view.logFocal);
        const cv::Matx33d a =
            cv::Matx33d(f, 0, view.cx, 0, f, view.cy, 0, 0, 1).inv() * cv::Matx33d(homography);
        const cv::Vec3d c1(a(0, 0), a(1, 0), a(2, 0)), c2(a(0, 1), a(1, 1), a(2, 1)),
            c3(a(0, 2), a(1, 2), a(2, 2));
        double scale = 2 / (cv::norm(c1) + cv::norm(c2));
        if (c3[2] < 0) scale = -scale; // the page lies in front of the camera
        // The nearest pair of orthonormal columns to the first two, and the third across them.
        const cv::Matx32d columns(c1[0], c2[0], c1[1], c2[1], c1[2], c2[2]);
        const cv::SVD svd(cv::Mat(columns * scale));
        const cv::Mat nearest = svd.u * svd.vt;
        const cv::Vec3d r1(nearest.col(0)), r2(nearest.col(1)), r3 = r1.cross(r2);
        const cv::Matx33d turn(r1[0], r2[0], r3[0], r1[1], r2[1], r3[1], r1[2], r2[2], r3[2]);
        cv::Vec3d rotation;
        cv::Rodrigues(turn, rotation);
        for (int i = 0; i < 3; ++i) camera[3 + i] = rotation[i], camera[6 + i] = c3[i] * scale;
    }
    const auto residuals = [&](const Camera& c, std::vector<double>& out) {
        out.resize(2 * n);
        cv::Matx33d turn;
        cv::Rodrigues(cv::Vec3d(c[3], c[4], c[5]), turn);
        const double f = longSide * std::exp(c[0]);
        double sum = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const cv::Vec3d x =
                turn * cv::Vec3d(from[i].x, from[i].y, 0) + cv::Vec3d(c[6], c[7], c[8]);
            const double depth = std::max(x[2], 1e-9);
            out[2 * i] = f * x[0] / depth + c[1] - to[i].x;
            out[2 * i + 1] = f * x[1] / depth + c[2] - to[i].y;
            sum += out[2 * i] * out[2 * i] + out[2 * i + 1] * out[2 * i + 1];
        }
        return sum;
    };
    const auto keepInBounds = [&](Camera& c) {
        c[0] = std::clamp(c[0], std::log(kFocalRange[0]), std::log(kFocalRange[1]));
        c[1] = std::clamp(c[1], view.x0, view.x1);
        c[2] = std::clamp(c[2], view.y0, view.y1);
    };
    std::vector<double> error, moved;
    double cost = residuals(camera, error), damping = 1e-3;
    for (int iteration = 0; iteration < 30; ++iteration) {
        cv::Mat jacobian(int(2 * n), 9, CV_64F);
        // Forward differences, each step small against its parameter's own scale.
        for (int j = 0; j < 9; ++j) {
            Camera nudged = camera;
            const double step = j == 0  ? 1e-5
                                : j < 3 ? 1e-3
                                : j < 6 ? 1e-6
                                        : 1e-5 * (std::abs(camera[std::size_t(j)]) + 1);
            nudged[std::size_t(j)] += step;
            residuals(nudged, moved);
            for (std::size_t i = 0; i < 2 * n; ++i)
                jacobian.at<double>(int(i), j) = (moved[i] - error[i]) / step;
        }
        const cv::Mat normal = jacobian.t() * jacobian, gradient = jacobian.t() * cv::Mat(error);
        bool improved = false;
        for (int attempt = 0; attempt < 8 && !improved; ++attempt) {
            cv::Mat damped = normal.clone(), step;
            for (int j = 0; j < 9; ++j) damped.at<double>(j, j) *= 1 + damping;
            if (cv::solve(damped, -gradient, step, cv::DECOMP_CHOLESKY)) {
                Camera next = camera;
                for (std::size_t j = 0; j < 9; ++j) next[j] += step.at<double>(int(j));
                keepInBounds(next);
                if (const double nextCost = residuals(next, moved); nextCost < cost) {
                    camera = next, cost = nextCost, error.swap(moved);
                    damping = std::max(damping / 3, 1e-9);
                    improved = true;
                    continue;
                }
            }
            damping *= 4;
        }
        if (!improved) break;
    }
    std::vector<cv::Point2f> seen;
    cv::perspectiveTransform(from, seen, homography);
    double fitted = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const cv::Point2f d = seen[i] - to[i];
        fitted += double(d.x) * d.x + double(d.y) * d.y;
    }
    return std::sqrt(cost / double(n)) - std::sqrt(fitted / double(n));
}

// The share of the photo's features whose nearest page feature is close and clearly nearer than
// the second nearest: how much of the photo a page explains, before any geometry.
double distinctiveShare(const cv::Mat& photo, const cv::Mat& page, float ratio) {
    if (photo.empty() || page.empty()) return 0;
    cv::BFMatcher matcher(cv::NORM_HAMMING);
    std::vector<std::vector<cv::DMatch>> pairs;
    matcher.knnMatch(photo, page, pairs, 2);
    int matched = 0;
    for (const auto& pair : pairs)
        if (!pair.empty() && pair[0].distance <= kMaxDistance &&
            (pair.size() < 2 || pair[0].distance < ratio * pair[1].distance))
            ++matched;
    return double(matched) / photo.rows;
}

} // namespace

Recogniser::Recogniser(RecogniserSettings settings) : settings_(settings) {}
Recogniser::~Recogniser() = default;

std::size_t Recogniser::addPage(const cv::Mat& image) {
    Features features =
        takeFeatures(image, settings_.pageLongSide, settings_.pageFeatures, kPageSoftness);
    pages_.push_back({std::move(features.points), std::move(features.descriptors), features.size,
                      lookOf(features.grey)});
    return pages_.size() - 1;
}

void Recogniser::build() {
    std::vector<cv::Mat> blocks;
    owners_.clear();
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        if (pages_[i].descriptors.empty()) continue;
        // A record read from a file made another way cannot be indexed with the others.
        if (!blocks.empty() && (pages_[i].descriptors.cols != blocks.front().cols ||
                                pages_[i].descriptors.type() != blocks.front().type()))
            continue;
        blocks.push_back(pages_[i].descriptors);
        owners_.insert(owners_.end(), std::size_t(pages_[i].descriptors.rows), std::uint32_t(i));
    }
    index_.reset();
    if (blocks.empty()) return;
    cv::vconcat(blocks, allDescriptors_);
    index_ = std::make_unique<BinaryIndex>(allDescriptors_, settings_.lshTables,
                                           settings_.lshKeyBits, settings_.lshProbeLevel);
}

std::vector<std::size_t> Recogniser::shortlist(const cv::Mat& descriptors) const {
    cv::Mat indices, distances;
    index_->knnSearch(descriptors, indices, distances, 2);
    cv::Mat distancesF;
    distances.convertTo(distancesF, CV_32F);
    std::vector<double> votes(pages_.size(), 0.0);
    for (int row = 0; row < indices.rows; ++row) {
        const int first = indices.at<int>(row, 0), second = indices.at<int>(row, 1);
        const float d1 = distancesF.at<float>(row, 0), d2 = distancesF.at<float>(row, 1);
        if (first < 0 || std::size_t(first) >= owners_.size() || d1 > kVoteDistance) continue;
        const std::uint32_t owner = owners_[std::size_t(first)];
        const bool distinctive = second < 0 || std::size_t(second) >= owners_.size() ||
                                 owners_[std::size_t(second)] == owner || d1 < settings_.ratio * d2;
        if (distinctive) votes[owner] += 1.0;
    }
    std::vector<std::size_t> order(pages_.size());
    std::iota(order.begin(), order.end(), 0);
    const std::size_t keep = std::min(settings_.candidates, order.size());
    std::partial_sort(order.begin(), order.begin() + std::ptrdiff_t(keep), order.end(),
                      [&](std::size_t a, std::size_t b) { return votes[a] > votes[b]; });
    order.resize(keep);
    std::erase_if(order, [&](std::size_t page) { return votes[page] < 3; });
    return order;
}

std::optional<Recognition> Recogniser::verify(std::size_t index, const Features& photo) const {
    const PageFeatures& page = pages_[index];
    const auto pairs = nearestTwo(photo.descriptors, page.descriptors);
    std::vector<cv::Point2f> from, to;
    std::vector<int> pagePoint;
    std::vector<float> distance;
    for (const auto& pair : pairs) {
        if (pair.empty() || pair[0].distance > kMaxDistance) continue;
        if (pair.size() == 2 && pair[0].distance >= settings_.ratio * pair[1].distance) continue;
        from.push_back(page.points[std::size_t(pair[0].trainIdx)]);
        to.push_back(photo.points[std::size_t(pair[0].queryIdx)]);
        pagePoint.push_back(pair[0].trainIdx);
        distance.push_back(pair[0].distance);
    }
    if (int(from.size()) < settings_.minInliers) return std::nullopt;
    std::vector<unsigned char> inlierMask;
    // Classic RANSAC: the locally optimised variants settle more often on the dense, nearly
    // collinear matches of a masthead line, whose homography says nothing about the rest.
    cv::Mat homography =
        cv::findHomography(from, to, cv::RANSAC, settings_.reprojection, inlierMask, 500, 0.995);
    std::vector<cv::Point2f> hull;
    int inliers = 0;
    // The matches that agree with the homography, several photo points matched to one page point
    // counting once, and the hull they span on the page; false when they are too few.
    const auto agree = [&] {
        std::unordered_set<int> agreeing;
        std::vector<cv::Point2f> agreeingPoints;
        for (std::size_t i = 0; i < inlierMask.size(); ++i)
            if (inlierMask[i] && agreeing.insert(pagePoint[i]).second)
                agreeingPoints.push_back(from[i]);
        inliers = int(agreeing.size());
        if (inliers < settings_.minInliers) return false;
        cv::convexHull(agreeingPoints, hull);
        return true;
    };
    if (!plausibleView(homography, page.size, photo.size) || !agree()) return std::nullopt;
    // Matches bunched in one spot are a word or a logo that several pages share; but a bold
    // headline can also outnumber the rest of a page's matches so that RANSAC settles on it alone.
    // Fitted again with at most a few of the closest matches from each part of the page, the rest
    // of the page gets its say; every match is then judged by that fit.
    const bool bunched = cv::contourArea(hull) < settings_.minSpread * page.size.area();
    if (bunched) {
        constexpr int kCells = 8, kPerCell = 4;
        std::vector<std::size_t> order(from.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return distance[a] < distance[b]; });
        std::vector<int> taken(kCells * kCells, 0);
        std::vector<cv::Point2f> spreadFrom, spreadTo;
        for (std::size_t i : order) {
            const int column = std::clamp(int(kCells * from[i].x / page.size.width), 0, kCells - 1);
            const int row = std::clamp(int(kCells * from[i].y / page.size.height), 0, kCells - 1);
            if (taken[std::size_t(row * kCells + column)]++ >= kPerCell) continue;
            spreadFrom.push_back(from[i]);
            spreadTo.push_back(to[i]);
        }
        if (int(spreadFrom.size()) < settings_.minInliers) return std::nullopt;
        homography = cv::findHomography(spreadFrom, spreadTo, cv::RANSAC, settings_.reprojection,
                                        cv::noArray(), 500, 0.995);
        if (!plausibleView(homography, page.size, photo.size)) return std::nullopt;
        std::vector<cv::Point2f> seen;
        cv::perspectiveTransform(from, seen, homography);
        for (std::size_t i = 0; i < from.size(); ++i)
            inlierMask[i] = cv::norm(seen[i] - to[i]) <= settings_.reprojection;
        if (!agree()) return std::nullopt;
        if (cv::contourArea(hull) < settings_.minSpread * page.size.area()) return std::nullopt;
    }
    // Pages of one layout share the corners of their frames and boxes; their content differs.
    double alike = resemblance(page.look, page.size, homography, photo.grey);
    // However many matches agree, the resemblance and the camera have to vouch for the page: a page
    // that shares only its masthead and top band with it can give 150 agreeing matches and more,
    // and the same print set again at another height but the same width resembles the page as well,
    // yet no camera sees it through that homography. Where the matches lie is held to a camera too,
    // which refuses that print when a large photo of it leaves the homography's numbers near a
    // camera's.
    CameraView view = cameraView(homography, page.size, photo.size);
    // A fit a camera takes whose resemblance falls a little short is aligned again on the look;
    // one no camera takes is not, since the alignment could bend print set at another scale into
    // a camera's view.
    if (alike < settings_.minResemblance && alike > kRefineFloor && view.misfit <= kCameraMisfit) {
        const cv::Mat refined = refineOnLook(page.look, page.size, homography, photo.grey);
        if (!refined.empty() && plausibleView(refined, page.size, photo.size)) {
            // The camera is held to the refined fit by the check below.
            const double refinedAlike = resemblance(page.look, page.size, refined, photo.grey);
            if (refinedAlike >= settings_.minResemblance + kRefinedMargin) {
                homography = refined, alike = refinedAlike;
                view = cameraView(homography, page.size, photo.size);
            }
        }
    }
    if (alike < settings_.minResemblance || view.misfit > kCameraMisfit) return std::nullopt;
    std::vector<cv::Point2f> agreedFrom, agreedTo;
    for (std::size_t i = 0; i < inlierMask.size(); ++i)
        if (inlierMask[i]) agreedFrom.push_back(from[i]), agreedTo.push_back(to[i]);
    if (cameraStrain(agreedFrom, agreedTo, homography, view, photo.size) > kCameraStrain)
        return std::nullopt;
    const double score =
        0.5 * std::clamp(alike, 0.0, 1.0) + 0.5 * double(inliers) / (inliers + 30.0);
    return Recognition{index, inliers, score};
}

std::vector<Recognition> Recogniser::recognise(const cv::Mat& photo, std::size_t maxResults,
                                               bool guesses) const {
    std::vector<Recognition> found, unverified;
    // A photo narrower than a feature's patch shows no page, and scaling it for the search would
    // leave no pixels at all.
    if (!index_ || std::min(photo.cols, photo.rows) < kMinPhotoSide) return found;
    const Features features =
        takeFeatures(photo, settings_.photoLongSide, settings_.photoFeatures, 0.0);
    if (features.descriptors.rows < settings_.minInliers) return found;
    for (std::size_t candidate : shortlist(features.descriptors)) {
        if (auto recognition = haveLook(candidate) ? verify(candidate, features) : std::nullopt) {
            found.push_back(*recognition);
        } else if (guesses) {
            const double share = distinctiveShare(features.descriptors,
                                                  pages_[candidate].descriptors, settings_.ratio);
            if (share > 0) unverified.push_back({candidate, 0, 0.5 * std::min(share, 0.99), false});
        }
    }
    const auto byScore = [](const Recognition& a, const Recognition& b) {
        return a.score > b.score;
    };
    std::sort(found.begin(), found.end(), byScore);
    if (guesses) {
        // Verified pages move to the upper half, so that every guess ranks below them.
        for (Recognition& recognition : found) recognition.score = 0.5 + 0.5 * recognition.score;
        std::sort(unverified.begin(), unverified.end(), byScore);
        found.insert(found.end(), unverified.begin(), unverified.end());
    }
    if (found.size() > maxResults) found.resize(maxResults);
    return found;
}

namespace {

// A page record: kRecordMagic, the page's width and height, then its points (one CV_32FC2
// column) and descriptors, each a matrix: its OpenCV type, rows and columns followed by its
// elements row after row. A look record is the look, grey bytes, as a PNG.
// Numbers are 32-bit in the machine's byte order: the records live in the catalogue file next to
// the service that wrote them, and a record that does not read back is taken again from the image.
constexpr unsigned char kRecordMagic[4] = {'K', 'P', 'R', '1'};
constexpr std::int32_t kMaxRecordSide = 1 << 16;

void putBytes(std::vector<unsigned char>& out, const void* bytes, std::size_t count) {
    const std::size_t at = out.size();
    out.resize(at + count);
    if (count) std::memcpy(out.data() + at, bytes, count);
}

void putInteger(std::vector<unsigned char>& out, std::int32_t value) {
    putBytes(out, &value, sizeof value);
}

void putMatrix(std::vector<unsigned char>& out, const cv::Mat& matrix) {
    CV_Assert(matrix.dims <= 2);
    putInteger(out, matrix.type());
    putInteger(out, matrix.rows);
    putInteger(out, matrix.cols);
    const std::size_t rowBytes = std::size_t(matrix.cols) * matrix.elemSize();
    for (int row = 0; row < matrix.rows; ++row) putBytes(out, matrix.ptr(row), rowBytes);
}

class RecordReader {
public:
    explicit RecordReader(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}

    bool take(void* out, std::size_t count) {
        if (bytes_.size() - at_ < count) return false;
        std::memcpy(out, bytes_.data() + at_, count);
        at_ += count;
        return true;
    }
    std::optional<std::int32_t> integer() {
        std::int32_t value = 0;
        if (!take(&value, sizeof value)) return std::nullopt;
        return value;
    }
    // A matrix of up to four channels of any depth, at most kMaxRecordSide on a side.
    std::optional<cv::Mat> matrix() {
        const auto type = integer(), rows = integer(), cols = integer();
        if (!type || !rows || !cols) return std::nullopt;
        if (*type < 0 || *type > CV_MAKETYPE(CV_16F, 4) || CV_MAT_DEPTH(*type) > CV_16F)
            return std::nullopt;
        if (*rows < 0 || *cols < 0 || *rows > kMaxRecordSide || *cols > kMaxRecordSide)
            return std::nullopt;
        // Sized from the bytes left before anything is allocated: a damaged record must not ask
        // for gigabytes.
        const std::size_t size = std::size_t(*rows) * std::size_t(*cols) * CV_ELEM_SIZE(*type);
        if (size > bytes_.size() - at_) return std::nullopt;
        cv::Mat matrix(*rows, *cols, *type);
        if (size) take(matrix.data, size);
        return matrix;
    }
    bool finished() const { return at_ == bytes_.size(); }

private:
    const std::vector<unsigned char>& bytes_;
    std::size_t at_ = 0;
};

// A page of boxes, rings, lines and words drawn from a fixed series: the record of its features
// changes when anything about taking a page's features does.
cv::Mat testCard() {
    cv::Mat card(594, 420, CV_8UC1, cv::Scalar(235));
    cv::RNG random(20240611);
    for (int i = 0; i < 40; ++i) {
        const cv::Point a(random.uniform(0, card.cols), random.uniform(0, card.rows));
        const cv::Point b(random.uniform(0, card.cols), random.uniform(0, card.rows));
        const cv::Scalar ink(random.uniform(0, 160));
        switch (i % 4) {
        case 0:
            cv::rectangle(card, a, b, ink, random.uniform(1, 4));
            break;
        case 1:
            cv::circle(card, a, random.uniform(5, 60), ink, -1);
            break;
        case 2:
            cv::line(card, a, b, ink, random.uniform(1, 3));
            break;
        default:
            cv::putText(card, "page " + std::to_string(i * 7919), a, cv::FONT_HERSHEY_SIMPLEX,
                        random.uniform(0.4, 1.2), ink, 1 + i % 2);
        }
    }
    return card;
}

} // namespace

std::vector<unsigned char> Recogniser::pageRecord(std::size_t index) const {
    const PageFeatures& page = pages_.at(index);
    std::vector<unsigned char> record;
    putBytes(record, kRecordMagic, sizeof kRecordMagic);
    putInteger(record, page.size.width);
    putInteger(record, page.size.height);
    putMatrix(record, cv::Mat(page.points, false));
    putMatrix(record, page.descriptors);
    return record;
}

std::vector<unsigned char> Recogniser::lookRecord(std::size_t index) const {
    std::vector<unsigned char> record;
    const cv::Mat& look = pages_.at(index).look;
    if (!look.empty()) cv::imencode(".png", look, record);
    return record;
}

std::optional<std::size_t> Recogniser::addPageRecord(const std::vector<unsigned char>& record) {
    RecordReader reader(record);
    unsigned char magic[sizeof kRecordMagic];
    if (!reader.take(magic, sizeof magic) || std::memcmp(magic, kRecordMagic, sizeof magic) != 0)
        return std::nullopt;
    const auto width = reader.integer(), height = reader.integer();
    auto points = reader.matrix();
    auto descriptors = reader.matrix();
    if (!width || !height || !points || !descriptors || !reader.finished()) return std::nullopt;
    if (*width <= 0 || *height <= 0 || *width > kMaxRecordSide || *height > kMaxRecordSide)
        return std::nullopt;
    // Every descriptor row names the point it describes, and the index compares bytes.
    if (!points->empty() && (points->type() != CV_32FC2 || points->cols != 1)) return std::nullopt;
    if (descriptors->rows != points->rows ||
        (!descriptors->empty() && descriptors->depth() != CV_8U))
        return std::nullopt;
    PageFeatures page;
    if (!points->empty())
        page.points.assign(points->begin<cv::Point2f>(), points->end<cv::Point2f>());
    page.descriptors = std::move(*descriptors);
    page.size = {*width, *height};
    pages_.push_back(std::move(page));
    return pages_.size() - 1;
}

bool Recogniser::haveLook(std::size_t index) const {
    std::lock_guard lock(lookMutex_);
    // A look, once there, is never written again: verify() reads it without the lock.
    PageFeatures& page = pages_[index];
    if (!page.look.empty()) return true;
    if (!lookSource_) return false;
    const std::vector<unsigned char> bytes = lookSource_(index);
    if (bytes.empty()) return false;
    cv::Mat look = cv::imdecode(bytes, cv::IMREAD_GRAYSCALE);
    if (look.empty() || look.cols > kMaxRecordSide || look.rows > kMaxRecordSide) return false;
    page.look = std::move(look);
    return true;
}

std::string Recogniser::featureFingerprint() const {
    Recogniser probe(settings_);
    probe.addPage(testCard());
    // FNV-1a over the test card's records.
    std::uint64_t hash = 14695981039346656037ull;
    for (const auto& record : {probe.pageRecord(0), probe.lookRecord(0)})
        for (unsigned char byte : record) hash = (hash ^ byte) * 1099511628211ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

} // namespace kestrel::devservice
