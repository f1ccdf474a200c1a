// Films what a phone camera shows while a reader scans a page: a hand sweeping the phone over a
// catalogue page (every frame smeared by the motion), then the phone held still over it, then,
// optionally, held over another page. Writes the frames as JPEG files frame-0000.jpg, ... for
// the scanner of the sample program and the benchmarks.
//   kestrel-devservice-film CATALOGUE_FOLDER OUTPUT_FOLDER [--seconds 10] [--fps 30]
//       [--size 1920x1080] [--moving 3] [--second-page 2]
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <numbers>
#include <random>
#include <string>

namespace {

struct Clip {
    double seconds = 10, fps = 30, moving = 3, secondPage = 2;
    cv::Size size{1920, 1080};
};

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

bool parse(int argc, char** argv, Clip& clip, std::filesystem::path& catalogue,
           std::filesystem::path& output) {
    if (argc < 3) return false;
    catalogue = argv[1];
    output = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--seconds")
            clip.seconds = std::stod(value);
        else if (name == "--fps")
            clip.fps = std::stod(value);
        else if (name == "--moving")
            clip.moving = std::stod(value);
        else if (name == "--second-page")
            clip.secondPage = std::stod(value);
        else if (name == "--size" &&
                 std::sscanf(value.c_str(), "%dx%d", &clip.size.width, &clip.size.height) == 2) {
        } else
            return false;
    }
    return (argc - 3) % 2 == 0 && clip.fps > 0 && clip.seconds > 0 && clip.size.width >= 64 &&
           clip.size.height >= 64;
}

} // namespace

int main(int argc, char** argv) {
    Clip clip;
    std::filesystem::path catalogue, output;
    if (!parse(argc, argv, clip, catalogue, output)) {
        std::cerr << "usage: kestrel-devservice-film CATALOGUE_FOLDER OUTPUT_FOLDER [--seconds S] "
                     "[--fps F] [--size WxH] [--moving S] [--second-page S]\n";
        return 2;
    }
    const cv::Mat first = cv::imread((catalogue / "harbour-news-p1.jpg").string());
    const cv::Mat second = cv::imread((catalogue / "museum-guide.jpg").string());
    if (first.empty() || second.empty()) {
        std::cerr << "cannot read harbour-news-p1.jpg and museum-guide.jpg in " << catalogue
                  << "\n";
        return 1;
    }
    std::filesystem::create_directories(output);
    const cv::Mat desk = paintDesk(clip.size);
    const cv::Point2d middle(clip.size.width / 2.0, clip.size.height / 2.0);
    const double pageHeight = clip.size.height * 0.9;
    std::mt19937 random(11);
    std::normal_distribution<double> shake(0, 0.4);
    const int frames = int(std::lround(clip.seconds * clip.fps));
    for (int i = 0; i < frames; ++i) {
        const double t = i / clip.fps;
        cv::Mat frame;
        if (t < clip.moving) {
            // The hand sweeps the phone along an ellipse: never still, so every exposure smears.
            const double w = 2 * std::numbers::pi / 1.5;
            const double ax = clip.size.width * 0.13, ay = clip.size.height * 0.14;
            const cv::Point2d centre =
                middle + cv::Point2d(ax * std::sin(w * t), ay * std::cos(w * t));
            const cv::Point2d velocity(ax * w * std::cos(w * t), -ay * w * std::sin(w * t));
            frame = placePage(desk, first, centre, pageHeight, 6 * std::sin(w * t / 2));
            smear(frame, std::hypot(velocity.x, velocity.y) / clip.fps,
                  std::atan2(velocity.y, velocity.x));
        } else {
            const bool later = t >= clip.seconds - clip.secondPage;
            frame = placePage(desk, later ? second : first,
                              middle + cv::Point2d(shake(random), shake(random)), pageHeight, 3);
        }
        cv::Mat noise(frame.size(), CV_16SC3);
        cv::RNG(random()).fill(noise, cv::RNG::NORMAL, 0, 3);
        cv::Mat noisy;
        frame.convertTo(noisy, CV_16SC3);
        noisy += noise;
        noisy.convertTo(frame, CV_8UC3);
        char name[32];
        std::snprintf(name, sizeof name, "frame-%04d.jpg", i);
        if (!cv::imwrite((output / name).string(), frame, {cv::IMWRITE_JPEG_QUALITY, 88})) {
            std::cerr << "cannot write " << (output / name) << "\n";
            return 1;
        }
    }
    std::cout << frames << " frames in " << output.string() << "\n";
    return 0;
}
