#include "scan_film.hpp"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <numbers>
#include <random>

namespace kestrel::devservice::synth {

namespace {

cv::Mat paintDesk(cv::Size size) {
    cv::Mat desk(size, CV_8UC3, cv::Scalar(70, 95, 120));
    cv::circle(desk, {size.width / 8, size.height / 5}, size.height / 6, {40, 60, 160}, cv::FILLED,
               cv::LINE_AA);
    cv::rectangle(desk, {size.width * 4 / 5, size.height * 2 / 3}, {size.width, size.height},
                  {150, 150, 140}, cv::FILLED);
    cv::Mat grain(size, CV_8UC3);
    cv::RNG(7).fill(grain, cv::RNG::NORMAL, 0, 12);
    desk += grain;
    cv::GaussianBlur(desk, desk, {0, 0}, 1.5);
    return desk;
}

// The page, `height` pixels tall, turned by `degrees` about its centre placed at `centre`.
cv::Mat placePage(const cv::Mat& desk, const cv::Mat& page, cv::Point2d centre, double height,
                  double degrees) {
    const double scale = height / page.rows;
    cv::Mat transform =
        cv::getRotationMatrix2D({page.cols / 2.0f, page.rows / 2.0f}, degrees, scale);
    transform.at<double>(0, 2) += centre.x - page.cols / 2.0;
    transform.at<double>(1, 2) += centre.y - page.rows / 2.0;
    cv::Mat frame = desk.clone(), mask;
    cv::Mat warped;
    cv::warpAffine(page, warped, transform, desk.size(), cv::INTER_AREA);
    cv::warpAffine(cv::Mat(page.size(), CV_8UC1, cv::Scalar(255)), mask, transform, desk.size());
    warped.copyTo(frame, mask);
    return frame;
}

// Smears the frame along the motion of one exposure (a line `length` pixels long at `angle`).
void smear(cv::Mat& frame, double length, double angle) {
    const int size = std::max(3, int(std::ceil(length)) | 1);
    cv::Mat kernel = cv::Mat::zeros(size, size, CV_32F);
    const cv::Point2d half(size / 2.0, size / 2.0);
    const cv::Point2d along(std::cos(angle) * length / 2, std::sin(angle) * length / 2);
    cv::line(kernel, half - along, half + along, cv::Scalar(1.0), 1, cv::LINE_AA);
    kernel /= cv::sum(kernel)[0];
    cv::filter2D(frame, frame, -1, kernel);
}

} // namespace

ScanFilm::ScanFilm(cv::Mat firstPage, cv::Mat secondPage, FilmShape shape)
    : first_(std::move(firstPage)), second_(std::move(secondPage)), desk_(paintDesk(shape.size)),
      shape_(shape) {}

int ScanFilm::frameCount() const { return int(std::lround(shape_.seconds * shape_.fps)); }

cv::Mat ScanFilm::frame(int index) const {
    const double t = timeOf(index);
    const cv::Size size = shape_.size;
    const cv::Point2d middle(size.width / 2.0, size.height / 2.0);
    const double pageHeight = size.height * 0.9;
    std::mt19937 random(static_cast<unsigned>(index) + 1);
    cv::Mat frame;
    if (t < shape_.moving) {
        // The hand sweeps the phone along an ellipse: never still, so every exposure smears.
        const double w = 2 * std::numbers::pi / 1.5;
        const double ax = size.width * 0.13, ay = size.height * 0.14;
        const cv::Point2d centre = middle + cv::Point2d(ax * std::sin(w * t), ay * std::cos(w * t));
        const cv::Point2d velocity(ax * w * std::cos(w * t), -ay * w * std::sin(w * t));
        frame = placePage(desk_, first_, centre, pageHeight, 6 * std::sin(w * t / 2));
        smear(frame, std::hypot(velocity.x, velocity.y) / shape_.fps,
              std::atan2(velocity.y, velocity.x));
    } else {
        // Held still: a tremor of under a pixel.
        std::normal_distribution<double> shake(0, 0.4);
        const bool later = t >= shape_.seconds - shape_.secondPage;
        const cv::Point2d tremor(shake(random), shake(random));
        frame = placePage(desk_, later ? second_ : first_, middle + tremor, pageHeight, 3);
    }
    // Sensor noise.
    cv::Mat noise(frame.size(), CV_16SC3), noisy;
    cv::RNG(random()).fill(noise, cv::RNG::NORMAL, 0, 3);
    frame.convertTo(noisy, CV_16SC3);
    noisy += noise;
    noisy.convertTo(frame, CV_8UC3);
    return frame;
}

} // namespace kestrel::devservice::synth
