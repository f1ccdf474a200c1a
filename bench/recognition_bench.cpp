// Recognition benchmark of the local recognition service: held-out photos of the sample
// catalogue's pages, synthesised as a hand-held phone would take them, and photos of pages that
// are not in the catalogue, recognised against catalogues of 10 and 1000 pages (the pages beyond
// the sample ones are painted at start). Prints top-1 accuracy, false positives and timings.
//
// The default series gives the held-out shots of bench/RESULTS.md; the settings were tuned on
// other series. The options below try other settings:
//   recognition_bench [--photos-per-page N] [--sizes 10,1000] [--series N]
//       [--photo LONG_SIDE,FEATURES] [--page LONG_SIDE,FEATURES] [--lsh TABLES,BITS,PROBE]
#include "page_painter.hpp"
#include "photo_simulator.hpp"
#include "recogniser.hpp"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace synth = kestrel::devservice::synth;

struct Photo {
    std::vector<unsigned char> jpeg;
    int page; // index in the catalogue, -1 for a page that is not in it
};

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = std::size_t(p * double(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

std::vector<cv::Mat> samplePages() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(KESTREL_DEVSERVICE_CATALOGUE))
        if (entry.path().extension() == ".jpg") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<cv::Mat> pages;
    for (const auto& file : files) pages.push_back(cv::imread(file.string(), cv::IMREAD_COLOR));
    return pages;
}

} // namespace

int main(int argc, char** argv) {
    int photosPerPage = 6;
    std::vector<int> sizes{10, 1000};
    unsigned series = 77031;
    kestrel::devservice::RecogniserSettings settings;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--photos-per-page") == 0)
            photosPerPage = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--series") == 0)
            series = unsigned(std::atol(argv[++i]));
        else if (std::strcmp(argv[i], "--photo") == 0)
            std::sscanf(argv[++i], "%d,%d", &settings.photoLongSide, &settings.photoFeatures);
        else if (std::strcmp(argv[i], "--page") == 0)
            std::sscanf(argv[++i], "%d,%d", &settings.pageLongSide, &settings.pageFeatures);
        else if (std::strcmp(argv[i], "--lsh") == 0)
            std::sscanf(argv[++i], "%d,%d,%d", &settings.lshTables, &settings.lshKeyBits,
                        &settings.lshProbeLevel);
        else if (std::strcmp(argv[i], "--sizes") == 0) {
            sizes.clear();
            std::stringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');) sizes.push_back(std::stoi(item));
        }
    }

    const std::vector<cv::Mat> samples = samplePages();
    if (samples.empty()) {
        std::fprintf(stderr, "no sample pages in %s\n", KESTREL_DEVSERVICE_CATALOGUE);
        return 1;
    }
    // Held-out shots: by default a series that neither the tuning nor the tests used.
    std::mt19937 random(series);
    std::vector<Photo> photos;
    for (int shot = 0; shot < photosPerPage; ++shot)
        for (std::size_t page = 0; page < samples.size(); ++page)
            photos.push_back({synth::photographPage(samples[page], random), int(page)});
    const int strangers = 20;
    for (int i = 0; i < strangers; ++i)
        photos.push_back(
            {synth::photographPage(synth::paintPage(900000 + std::uint64_t(i)), random), -1});
    const int positives = int(photos.size()) - strangers;

    std::printf("%d photos of %zu catalogue pages, %d photos of other pages; OpenCV threads %d\n",
                positives, samples.size(), strangers, cv::getNumThreads());
    std::printf("| pages | index build s | top-1 | wrong page | missed | false positives | "
                "median ms | p95 ms |\n|---|---|---|---|---|---|---|---|\n");
    for (int size : sizes) {
        kestrel::devservice::Recogniser recogniser(settings);
        const auto buildStart = Clock::now();
        for (const cv::Mat& page : samples) recogniser.addPage(page);
        for (int i = int(samples.size()); i < size; ++i)
            recogniser.addPage(synth::paintPage(1000000 + std::uint64_t(i)));
        recogniser.build();
        const double buildSeconds = milliseconds(Clock::now() - buildStart) / 1000;

        int correct = 0, wrong = 0, missed = 0, falsePositives = 0;
        std::vector<double> times;
        for (const Photo& photo : photos) {
            const auto start = Clock::now();
            const cv::Mat image = cv::imdecode(photo.jpeg, cv::IMREAD_UNCHANGED);
            const auto found = recogniser.recognise(image, 1);
            times.push_back(milliseconds(Clock::now() - start));
            if (photo.page < 0)
                falsePositives += found.empty() ? 0 : 1;
            else if (found.empty())
                ++missed;
            else if (int(found.front().page) == photo.page)
                ++correct;
            else
                ++wrong;
        }
        std::printf("| %d | %.1f | %.1f %% (%d/%d) | %d | %d | %.1f %% (%d/%d) | %.1f | %.1f |\n",
                    size, buildSeconds, 100.0 * correct / positives, correct, positives, wrong,
                    missed, 100.0 * falsePositives / strangers, falsePositives, strangers,
                    percentile(times, 0.5), percentile(times, 0.95));
        std::fflush(stdout);
    }
    return 0;
}
