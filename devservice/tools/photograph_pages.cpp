// Takes the sample program's demo photos (examples/photos/): a hand-held shot of one catalogue
// page at an angle, and one of a page that is not in the catalogue.
//   kestrel-devservice-photograph devservice/catalogue examples/photos
#include "page_painter.hpp"
#include "photo_simulator.hpp"

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>

namespace {

namespace synth = kestrel::devservice::synth;

bool writeShot(const cv::Mat& page, unsigned series, const std::filesystem::path& path) {
    // Tilted and turned clearly, but in colour and sharp: what a reader's phone would take.
    synth::ShotRange range;
    range.maxTiltDegrees = 22;
    range.minScale = 0.75;
    range.maxScale = 0.9;
    range.maxBlurSigma = 0.5;
    range.maxNoiseSigma = 3;
    range.greyChance = 0;
    range.minJpegQuality = range.maxJpegQuality = 88;
    range.photoSize = {1200, 1600};
    std::mt19937 random(series);
    const auto jpeg = synth::photographPage(page, random, range);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(jpeg.data()),
              static_cast<std::streamsize>(jpeg.size()));
    std::cout << path.string() << "\n";
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: kestrel-devservice-photograph CATALOGUE_FOLDER OUTPUT_FOLDER\n";
        return 2;
    }
    const std::filesystem::path catalogue = argv[1], output = argv[2];
    std::filesystem::create_directories(output);
    const cv::Mat page = cv::imread((catalogue / "harbour-news-p1.jpg").string());
    if (page.empty()) {
        std::cerr << "cannot read the page harbour-news-p1.jpg in " << catalogue << "\n";
        return 1;
    }
    const cv::Mat stranger =
        synth::paintPage(9001, {.size = {420, 594}, .masthead = "Valley Gazette"});
    return writeShot(page, 7, output / "harbour-news-p1-angled.jpg") &&
                   writeShot(stranger, 11, output / "not-in-catalogue.jpg")
               ? 0
               : 1;
}
