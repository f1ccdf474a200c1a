// Draws the page images of the sample catalogue into a folder:
//   kestrel-devservice-paint devservice/catalogue
// Each page has a fixed pattern number and masthead, so running it again gives the same pages.
#include "page_painter.hpp"

#include <opencv2/imgcodecs.hpp>

#include <array>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string_view>

namespace {

struct SamplePage {
    std::string_view file;
    std::uint64_t pattern;
    std::string_view masthead;
};

constexpr std::array<SamplePage, 8> kPages{{
    {"harbour-news-p1.jpg", 101, "Harbour News"},
    {"harbour-news-p2.jpg", 102, "Harbour News"},
    {"city-weekly-cover.jpg", 201, "City Weekly"},
    {"city-weekly-p7.jpg", 207, "City Weekly"},
    {"garden-monthly-p3.jpg", 303, "Garden Monthly"},
    {"rail-timetable.jpg", 404, "Northern Rail"},
    {"festival-programme.jpg", 505, "Summer Festival"},
    {"museum-guide.jpg", 606, "Museum Guide"},
}};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: kestrel-devservice-paint FOLDER\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    for (const SamplePage& page : kPages) {
        const cv::Mat image = kestrel::devservice::synth::paintPage(
            page.pattern, {.size = {420, 594}, .masthead = std::string(page.masthead)});
        const auto path = folder / page.file;
        if (!cv::imwrite(path.string(), image, {cv::IMWRITE_JPEG_QUALITY, 85})) {
            std::cerr << "cannot write " << path << "\n";
            return 1;
        }
        std::cout << path.string() << "\n";
    }
    return 0;
}
