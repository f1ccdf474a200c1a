// Recognition benchmark of the local recognition service, on two sets of photos recognised
// against catalogues of a few dozen and of 1000 pages (the pages beyond the sample and real ones
// are painted at start). Prints top-1 accuracy, false positives and timings for each.
//
// Painted pages: held-out photos of the sample catalogue's pages, synthesised as a hand-held phone
// would take them, and photos of painted pages that are not in the catalogue.
//
// Real pages: pages of documents that Debian packages ship (manuals rendered from PDF by
// pdftoppm, scores engraved by abcm2ps and rasterised by Ghostscript, some with a photograph of
// mate-backgrounds composed onto them), photographed under even light, a light fall-off of up to
// half the brightness across the page, a hand's shadow, or a glare spot. The documents split into
// a tuning part and a held-out part; each part has its own catalogue pages, its own pages that
// are not in the catalogue (other pages of the same documents, another engraving of the same
// score) and its own shot series. By default the held-out part is measured.
//
//   recognition_bench [--photos-per-page N] [--sizes 0,1000] [--series N] [--real-part tuning]
//       [--real-series N] [--real-shots N] [--photo LONG_SIDE,FEATURES]
//       [--page LONG_SIDE,FEATURES] [--lsh TABLES,BITS,PROBE] [--dump FOLDER]
//       [--verify MIN_RESEMBLANCE]
// A size of 0 stands for the sample and real pages alone.
#include "page_painter.hpp"
#include "photo_simulator.hpp"
#include "recogniser.hpp"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

// ---- Real pages ----------------------------------------------------------------------------

enum class Part { Tuning, HeldOut };

struct Document {
    const char* name;
    const char* file;    // a PDF, or an ABC score engraved by abcm2ps
    const char* engrave; // abcm2ps options for a score ("" for a PDF)
};

constexpr const char* kAbc = "/usr/share/doc/abcm2ps/examples/";
constexpr const char* kPhotos = "/usr/share/backgrounds/mate/nature/";

const std::array<Document, 21> kDocuments{{
    // Tuning part.
    {"R-intro", "/usr/share/R/doc/manual/R-intro.pdf", ""},
    {"R-data", "/usr/share/R/doc/manual/R-data.pdf", ""},
    {"R-FAQ", "/usr/share/R/doc/manual/R-FAQ.pdf", ""},
    {"gnuplot", "/usr/share/doc/gnuplot/gnuplot.pdf", ""},
    {"asy-CAD", "/usr/share/doc/asymptote/CAD.pdf", ""},
    {"abc-sample", "sample.abc", "-s 1.0"},
    {"abc-sample-small", "sample.abc", "-s 0.85"},
    {"abc-sample2", "sample2.abc", "-s 1.0"},
    // The tunes of a catalogue page engraved again at a smaller scale: the same page, smaller.
    {"abc-sample-again", "sample.abc", "-s 0.85 -e 1-5"},
    {"abc-sample-again-90", "sample.abc", "-s 0.9 -e 1-5"},
    {"abc-sample2-again", "sample2.abc", "-s 0.85 -e 1-2"},
    // Held-out part.
    {"R-lang", "/usr/share/R/doc/manual/R-lang.pdf", ""},
    {"R-admin", "/usr/share/R/doc/manual/R-admin.pdf", ""},
    {"R-ints", "/usr/share/R/doc/manual/R-ints.pdf", ""},
    {"R-exts", "/usr/share/R/doc/manual/R-exts.pdf", ""},
    {"debian-reference", "/usr/share/debian-reference/debian-reference.en.pdf", ""},
    {"asymptote", "/usr/share/doc/asymptote/asymptote.pdf", ""},
    {"asy-refcard", "/usr/share/doc/asymptote/asyRefCard.pdf", ""},
    {"abc-voices", "voices.abc", "-s 1.0"},
    {"abc-voices-small", "voices.abc", "-s 0.85"},
    {"abc-deco", "deco.abc", "-s 1.0"},
}};

struct RealPage {
    const char* document;
    int page; // from 1
    Part part;
    bool inCatalogue;                 // false: a page the answer must not be found for
    const char* photograph = nullptr; // composed onto the page's upper part
};

// Title pages, contents, running text, code, tables, figures, reference cards, scores and pages
// with a photograph; the pages left out of the catalogue are mostly neighbours of catalogue pages
// (the same layout and typography) and another engraving of a catalogue score.
const std::vector<RealPage> kRealPages{
    {"R-intro", 1, Part::Tuning, true},
    {"R-intro", 12, Part::Tuning, true},
    {"R-intro", 30, Part::Tuning, true},
    {"R-intro", 40, Part::Tuning, true},
    {"R-intro", 61, Part::Tuning, true},
    {"R-intro", 85, Part::Tuning, true},
    {"R-data", 5, Part::Tuning, true, "Aqua.jpg"},
    {"R-data", 15, Part::Tuning, true, "Dune.jpg"},
    {"gnuplot", 30, Part::Tuning, true},
    {"gnuplot", 77, Part::Tuning, true},
    {"gnuplot", 140, Part::Tuning, true},
    {"gnuplot", 200, Part::Tuning, true},
    {"asy-CAD", 2, Part::Tuning, true},
    {"asy-CAD", 4, Part::Tuning, true},
    {"abc-sample", 1, Part::Tuning, true},
    {"abc-sample", 2, Part::Tuning, true},
    {"abc-sample2", 1, Part::Tuning, true},
    {"R-intro", 14, Part::Tuning, false},
    {"R-intro", 41, Part::Tuning, false},
    {"R-data", 16, Part::Tuning, false, "Garden.jpg"},
    {"gnuplot", 31, Part::Tuning, false},
    {"R-FAQ", 10, Part::Tuning, false},
    {"abc-sample-small", 1, Part::Tuning, false},
    {"abc-sample", 3, Part::Tuning, false},
    {"abc-sample-again", 1, Part::Tuning, false},
    {"abc-sample-again-90", 1, Part::Tuning, false},
    {"abc-sample2-again", 1, Part::Tuning, false},
    {"asy-CAD", 3, Part::Tuning, false},

    {"R-lang", 1, Part::HeldOut, true},
    {"R-lang", 7, Part::HeldOut, true},
    {"R-lang", 22, Part::HeldOut, true},
    {"R-lang", 35, Part::HeldOut, true},
    {"R-lang", 50, Part::HeldOut, true},
    {"R-admin", 3, Part::HeldOut, true},
    {"R-admin", 17, Part::HeldOut, true},
    {"R-admin", 44, Part::HeldOut, true},
    {"debian-reference", 1, Part::HeldOut, true},
    {"debian-reference", 40, Part::HeldOut, true},
    {"debian-reference", 95, Part::HeldOut, true},
    {"debian-reference", 130, Part::HeldOut, true},
    {"debian-reference", 180, Part::HeldOut, true},
    {"asymptote", 1, Part::HeldOut, true},
    {"asymptote", 20, Part::HeldOut, true},
    {"asymptote", 60, Part::HeldOut, true},
    {"asymptote", 110, Part::HeldOut, true},
    {"asy-refcard", 1, Part::HeldOut, true},
    {"asy-refcard", 2, Part::HeldOut, true},
    {"R-ints", 10, Part::HeldOut, true, "LadyBird.jpg"},
    {"R-ints", 30, Part::HeldOut, true, "Storm.jpg"},
    {"R-ints", 50, Part::HeldOut, true, "Wood.jpg"},
    {"abc-voices", 1, Part::HeldOut, true},
    {"abc-deco", 1, Part::HeldOut, true},
    {"R-lang", 8, Part::HeldOut, false},
    {"R-lang", 23, Part::HeldOut, false},
    {"debian-reference", 41, Part::HeldOut, false},
    {"debian-reference", 96, Part::HeldOut, false},
    {"asymptote", 21, Part::HeldOut, false},
    {"asy-refcard", 3, Part::HeldOut, false},
    {"R-ints", 11, Part::HeldOut, false, "YellowFlower.jpg"},
    {"abc-voices-small", 1, Part::HeldOut, false},
    {"abc-voices", 2, Part::HeldOut, false},
    {"R-exts", 100, Part::HeldOut, false},
    {"R-exts", 150, Part::HeldOut, false},
};

bool run(const std::string& command) {
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

// The page at 100 dpi (BGR), rendered once into `work`; empty when a tool or file is missing.
cv::Mat renderPage(const Document& document, int page, const std::filesystem::path& work) {
    const std::filesystem::path png =
        work / (std::string(document.name) + "-" + std::to_string(page) + ".png");
    if (!std::filesystem::exists(png)) {
        if (std::string(document.engrave).empty()) {
            const std::string prefix =
                (work / (std::string(document.name) + "-" + std::to_string(page))).string();
            run("pdftoppm -r 100 -singlefile -png -f " + std::to_string(page) + " -l " +
                std::to_string(page) + " '" + document.file + "' '" + prefix + "'");
        } else {
            const std::string ps = (work / (std::string(document.name) + ".ps")).string();
            run(std::string("abcm2ps -q ") + document.engrave + " -O '" + ps + "' '" + kAbc +
                document.file + "'; gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r100 -o '" +
                (work / (std::string(document.name) + "-%d.png")).string() + "' '" + ps + "'");
        }
    }
    return cv::imread(png.string(), cv::IMREAD_COLOR);
}

// A photograph printed across the upper part of the page, over what was there, as in a magazine.
void composePhotograph(cv::Mat& page, const char* file) {
    const cv::Mat photo = cv::imread(std::string(kPhotos) + file, cv::IMREAD_COLOR);
    if (photo.empty()) {
        page.release();
        return;
    }
    const cv::Rect area(page.cols * 8 / 100, page.rows * 10 / 100, page.cols * 84 / 100,
                        page.rows * 32 / 100);
    const double factor =
        std::max(double(area.width) / photo.cols, double(area.height) / photo.rows);
    cv::Mat scaled;
    cv::resize(photo, scaled, {}, factor, factor, cv::INTER_AREA);
    const cv::Rect crop((scaled.cols - area.width) / 2, (scaled.rows - area.height) / 2, area.width,
                        area.height);
    scaled(crop).copyTo(page(area));
}

enum Condition { kEven, kFalloff, kShadow, kGlare, kConditions };
constexpr std::array<const char*, kConditions> kConditionNames{
    "even light", "light falling to 50-70 % across the page", "hand's shadow", "glare spot"};

synth::ShotRange shotRange(Condition condition) {
    synth::ShotRange range;
    range.maxTint = 0.25;
    range.maxVignetting = 0.15;
    if (condition == kFalloff) {
        range.minPageFalloff = 0.3;
        range.maxPageFalloff = 0.5;
        range.maxVignetting = 0.3;
    }
    if (condition == kShadow) range.shadowChance = 1;
    if (condition == kGlare) range.glareChance = 1;
    return range;
}

struct RealPhoto {
    std::vector<unsigned char> jpeg;
    int page; // index in the catalogue, -1 for a page that is not in it
    Condition condition;
};

} // namespace

int main(int argc, char** argv) {
    int photosPerPage = 6, realShots = 3;
    std::vector<int> sizes{0, 1000};
    unsigned series = 77031, realSeries = 90417;
    Part part = Part::HeldOut;
    std::string dump; // a folder to write the real photos into, to look at them
    kestrel::devservice::RecogniserSettings settings;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--photos-per-page") == 0)
            photosPerPage = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--series") == 0)
            series = unsigned(std::atol(argv[++i]));
        else if (std::strcmp(argv[i], "--real-series") == 0)
            realSeries = unsigned(std::atol(argv[++i]));
        else if (std::strcmp(argv[i], "--real-shots") == 0)
            realShots = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--real-part") == 0)
            part = std::strcmp(argv[++i], "tuning") == 0 ? Part::Tuning : Part::HeldOut;
        else if (std::strcmp(argv[i], "--dump") == 0)
            dump = argv[++i];
        else if (std::strcmp(argv[i], "--verify") == 0)
            settings.minResemblance = std::atof(argv[++i]);
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
    // Timings are of one core, as a small server would give each request.
    cv::setNumThreads(1);

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

    // Real pages: every catalogue page of both parts goes into the catalogue, photos are taken of
    // the measured part only.
    const std::filesystem::path work = KESTREL_BENCH_WORK_DIR;
    std::filesystem::create_directories(work);
    std::vector<cv::Mat> realCatalogue;
    std::vector<RealPhoto> realPhotos;
    std::array<int, kConditions> realPositives{};
    int realStrangers = 0;
    bool realAvailable = true;
    std::mt19937 realRandom(realSeries);
    for (const RealPage& real : kRealPages) {
        const auto document =
            std::find_if(kDocuments.begin(), kDocuments.end(),
                         [&](const Document& d) { return std::string(d.name) == real.document; });
        cv::Mat page = renderPage(*document, real.page, work);
        if (!page.empty() && real.photograph) composePhotograph(page, real.photograph);
        if (page.empty()) {
            std::fprintf(stderr, "real pages unavailable (%s page %d): ./run bench installs them\n",
                         real.document, real.page);
            realAvailable = false;
            break;
        }
        const int index = real.inCatalogue ? int(samples.size() + realCatalogue.size()) : -1;
        if (real.inCatalogue) realCatalogue.push_back(page);
        if (real.part != part) continue;
        for (int shot = 0; shot < realShots; ++shot)
            for (int condition = 0; condition < kConditions; ++condition) {
                realPhotos.push_back(
                    {synth::photographPage(page, realRandom, shotRange(Condition(condition))),
                     index, Condition(condition)});
                if (index >= 0)
                    ++realPositives[std::size_t(condition)];
                else
                    ++realStrangers;
            }
    }
    if (!realAvailable) {
        realCatalogue.clear();
        realPhotos.clear();
    }
    const int fixedPages = int(samples.size() + realCatalogue.size());
    if (!dump.empty()) {
        std::filesystem::create_directories(dump);
        for (std::size_t i = 0; i < realPhotos.size(); ++i) {
            const std::filesystem::path file =
                std::filesystem::path(dump) / ("photo-" + std::to_string(i) + "-page" +
                                               std::to_string(realPhotos[i].page) + ".jpg");
            std::FILE* out = std::fopen(file.string().c_str(), "wb");
            if (!out) continue;
            std::fwrite(realPhotos[i].jpeg.data(), 1, realPhotos[i].jpeg.size(), out);
            std::fclose(out);
        }
    }

    std::printf("painted: %d photos of %zu sample pages, %d photos of other pages; real (%s part): "
                "%zu photos, %d of other pages; %zu real catalogue pages; OpenCV threads %d\n",
                positives, samples.size(), strangers, part == Part::HeldOut ? "held-out" : "tuning",
                realPhotos.size(), realStrangers, realCatalogue.size(), cv::getNumThreads());
    for (int size : sizes) {
        kestrel::devservice::Recogniser recogniser(settings);
        const auto buildStart = Clock::now();
        for (const cv::Mat& page : samples) recogniser.addPage(page);
        for (const cv::Mat& page : realCatalogue) recogniser.addPage(page);
        for (int i = fixedPages; i < size; ++i)
            recogniser.addPage(synth::paintPage(1000000 + std::uint64_t(i)));
        // The index draws its key bits from a fixed series; OpenCV's shared generator is reset too,
        // so that the figures are the same each run.
        cv::theRNG() = cv::RNG(series);
        recogniser.build();
        const double buildSeconds = milliseconds(Clock::now() - buildStart) / 1000;
        const auto recognise = [&](const std::vector<unsigned char>& jpeg,
                                   std::vector<double>& times) {
            const auto start = Clock::now();
            const cv::Mat image = cv::imdecode(jpeg, cv::IMREAD_UNCHANGED);
            const auto found = recogniser.recognise(image, 1);
            times.push_back(milliseconds(Clock::now() - start));
            return found.empty() ? -1 : int(found.front().page);
        };

        int correct = 0, wrong = 0, missed = 0, falsePositives = 0;
        std::vector<double> times;
        for (const Photo& photo : photos) {
            const int answer = recognise(photo.jpeg, times);
            if (photo.page < 0)
                falsePositives += answer < 0 ? 0 : 1;
            else if (answer < 0)
                ++missed;
            else if (answer == photo.page)
                ++correct;
            else
                ++wrong;
        }
        std::printf("\n%d pages (index built in %.1f s)\n\n",
                    recogniser.size() ? int(recogniser.size()) : 0, buildSeconds);
        std::printf("| photos | top-1 | wrong page | missed | false positives | median ms | p95 ms "
                    "|\n|---|---|---|---|---|---|---|\n");
        std::printf(
            "| painted pages | %.1f %% (%d/%d) | %d | %d | %.1f %% (%d/%d) | %.1f | %.1f |\n",
            100.0 * correct / positives, correct, positives, wrong, missed,
            100.0 * falsePositives / strangers, falsePositives, strangers, percentile(times, 0.5),
            percentile(times, 0.95));
        if (realPhotos.empty()) continue;

        std::array<int, kConditions> realCorrect{}, realWrong{}, realMissed{};
        std::array<std::vector<double>, kConditions> realTimes;
        int realFalse = 0;
        std::vector<double> allTimes;
        for (const RealPhoto& photo : realPhotos) {
            const auto c = std::size_t(photo.condition);
            const int answer = recognise(photo.jpeg, realTimes[c]);
            allTimes.push_back(realTimes[c].back());
            if (photo.page < 0)
                realFalse += answer < 0 ? 0 : 1;
            else if (answer < 0)
                ++realMissed[c];
            else if (answer == photo.page)
                ++realCorrect[c];
            else
                ++realWrong[c];
        }
        int allCorrect = 0, allWrong = 0, allMissed = 0, allPositives = 0;
        for (std::size_t c = 0; c < kConditions; ++c) {
            std::printf("| real, %s | %.1f %% (%d/%d) | %d | %d | | %.1f | %.1f |\n",
                        kConditionNames[c], 100.0 * realCorrect[c] / std::max(1, realPositives[c]),
                        realCorrect[c], realPositives[c], realWrong[c], realMissed[c],
                        percentile(realTimes[c], 0.5), percentile(realTimes[c], 0.95));
            allCorrect += realCorrect[c];
            allWrong += realWrong[c];
            allMissed += realMissed[c];
            allPositives += realPositives[c];
        }
        std::printf("| real, all | %.1f %% (%d/%d) | %d | %d | %.1f %% (%d/%d) | %.1f | %.1f |\n",
                    100.0 * allCorrect / std::max(1, allPositives), allCorrect, allPositives,
                    allWrong, allMissed, 100.0 * realFalse / std::max(1, realStrangers), realFalse,
                    realStrangers, percentile(allTimes, 0.5), percentile(allTimes, 0.95));
        std::fflush(stdout);
    }
    return 0;
}
