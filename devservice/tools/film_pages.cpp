// Films what a phone camera shows while a reader scans a catalogue page (see scan_film.hpp) and
// writes the frames as JPEG files frame-0000.jpg, ... for `kestrel-scan scan` and the demo.
//   kestrel-devservice-film CATALOGUE_FOLDER OUTPUT_FOLDER [--seconds 10] [--fps 30]
//       [--size 1920x1080] [--moving 3] [--second-page 2]
#include "scan_film.hpp"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

namespace synth = kestrel::devservice::synth;

bool parse(int argc, char** argv, synth::FilmShape& clip, std::filesystem::path& catalogue,
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
    synth::FilmShape shape;
    std::filesystem::path catalogue, output;
    bool usable = false;
    try {
        usable = parse(argc, argv, shape, catalogue, output);
    } catch (const std::exception&) { // a number that does not read as one
    }
    if (!usable) {
        std::cerr << "usage: kestrel-devservice-film CATALOGUE_FOLDER OUTPUT_FOLDER [--seconds S] "
                     "[--fps F] [--size WxH] [--moving S] [--second-page S]\n";
        return 2;
    }
    cv::Mat first = cv::imread((catalogue / "harbour-news-p1.jpg").string());
    cv::Mat second = cv::imread((catalogue / "museum-guide.jpg").string());
    if (first.empty() || second.empty()) {
        std::cerr << "cannot read harbour-news-p1.jpg and museum-guide.jpg in " << catalogue
                  << "\n";
        return 1;
    }
    std::filesystem::create_directories(output);
    const synth::ScanFilm film(std::move(first), std::move(second), shape);
    for (int i = 0; i < film.frameCount(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%04d.jpg", i);
        if (!cv::imwrite((output / name).string(), film.frame(i), {cv::IMWRITE_JPEG_QUALITY, 88})) {
            std::cerr << "cannot write " << (output / name) << "\n";
            return 1;
        }
    }
    std::cout << film.frameCount() << " frames in " << output.string() << "\n";
    return 0;
}
