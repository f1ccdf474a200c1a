// Start-up and recognition time of the local recognition service as its catalogue grows: for
// each size, a catalogue file of the eight sample pages and pages painted by the page painter
// (devservice/synth), built once and kept in the build folder (catalogue_scale_N.sqlite), so that
// reruns skip the painting. Times the first start (features taken from every image and kept in
// the file), a start from the kept features (opening the file to a recogniser ready to answer,
// with its two parts: reading the records, indexing the features), and the recognition of
// hand-held shots of catalogue pages and of pages outside it. OpenCV runs on one thread.
//
//   catalogue_scale_bench [--sizes 10,1000,10000] [--series N] [--cold]
//
// --cold drops the kept features first, so that the first start is measured again.
#include "catalogue.hpp"
#include "catalogue_store.hpp"
#include "page_description.hpp"
#include "page_painter.hpp"
#include "photo_simulator.hpp"
#include "recogniser.hpp"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <sqlite3.h>

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
namespace fs = std::filesystem;
namespace devservice = kestrel::devservice;
namespace synth = kestrel::devservice::synth;

constexpr std::uint64_t kPaintedFrom = 1000000; // pattern of the painted page of index 0

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = std::size_t(p * double(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

std::string paintedId(int index) {
    char id[32];
    std::snprintf(id, sizeof id, "painted-%05d", index);
    return id;
}

void execute(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// The catalogue file of size pages: the sample catalogue and size - 8 painted pages. Written
// under another name first, so that an interrupted run leaves no half-filled file behind.
fs::path catalogueFile(int size) {
    const fs::path file =
        fs::path(KESTREL_BENCH_CACHE_DIR) / ("catalogue_scale_" + std::to_string(size) + ".sqlite");
    if (fs::exists(file)) return file;
    const fs::path part = file.string() + ".part";
    fs::remove(part);
    const auto start = Clock::now();
    {
        devservice::CatalogueStore store(part);
        const int samples =
            int(devservice::importFolder(store, KESTREL_DEVSERVICE_CATALOGUE).pageIds.size());
        for (int i = 0; i + samples < size; ++i) {
            devservice::Page page;
            page.id = paintedId(i);
            page.title = "Painted page " + std::to_string(i);
            cv::imencode(".jpg", synth::paintPage(kPaintedFrom + std::uint64_t(i)), page.image,
                         {cv::IMWRITE_JPEG_QUALITY, 90});
            store.putPage(page);
            if ((i + 1) % 1000 == 0)
                std::fprintf(stderr, "  painted %d pages, %.0f s\n", i + 1,
                             seconds(Clock::now() - start));
        }
    }
    fs::remove(part.string() + "-wal");
    fs::remove(part.string() + "-shm");
    fs::rename(part, file);
    std::fprintf(stderr, "catalogue of %d pages painted in %.0f s\n", size,
                 seconds(Clock::now() - start));
    return file;
}

struct Photo {
    std::vector<unsigned char> jpeg;
    std::string page; // its id; empty for a page outside the catalogue
};

} // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes{10, 1000, 10000};
    unsigned series = 77031;
    bool cold = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cold") == 0)
            cold = true;
        else if (std::strcmp(argv[i], "--series") == 0 && i + 1 < argc)
            series = unsigned(std::atol(argv[++i]));
        else if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc) {
            sizes.clear();
            std::stringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');) sizes.push_back(std::stoi(item));
        }
    }
    cv::setNumThreads(1);

    // Shots of the sample pages, of painted pages spread over the largest catalogue (each size
    // is asked only about the pages it holds), and of painted pages outside every catalogue.
    std::mt19937 random(series);
    std::vector<Photo> photos;
    std::vector<std::pair<std::string, cv::Mat>> samples;
    for (const auto& entry : fs::directory_iterator(KESTREL_DEVSERVICE_CATALOGUE))
        if (entry.path().extension() == ".jpg")
            samples.emplace_back(entry.path().stem().string(),
                                 cv::imread(entry.path().string(), cv::IMREAD_COLOR));
    std::sort(samples.begin(), samples.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (int shot = 0; shot < 3; ++shot)
        for (const auto& [id, image] : samples)
            photos.push_back({synth::photographPage(image, random), id});
    const int largest = *std::max_element(sizes.begin(), sizes.end());
    for (int i = 0; i < 24; ++i) {
        const int index = int(random() % std::uint32_t(std::max(1, largest - 8)));
        photos.push_back(
            {synth::photographPage(synth::paintPage(kPaintedFrom + std::uint64_t(index)), random),
             paintedId(index)});
    }
    for (int i = 0; i < 12; ++i)
        photos.push_back(
            {synth::photographPage(synth::paintPage(900000 + std::uint64_t(i)), random), ""});

    std::printf("OpenCV threads %d\n", cv::getNumThreads());
    std::printf("| pages | file MB | first start s | start s | reading s | indexing s | top-1 | "
                "wrong | missed | false positives | median ms | p95 ms |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (int size : sizes) {
        const fs::path file = catalogueFile(size);
        if (cold) execute(file, "DELETE FROM page_features");

        // The first start after an import takes and keeps every page's features; later starts
        // read them.
        double firstStart = 0;
        {
            auto start = Clock::now();
            devservice::CatalogueStore store(file);
            sqlite3* db = nullptr;
            sqlite3_open(file.c_str(), &db);
            sqlite3_stmt* count = nullptr;
            sqlite3_prepare_v2(db, "SELECT count(*) FROM page_features", -1, &count, nullptr);
            const bool kept = sqlite3_step(count) == SQLITE_ROW && sqlite3_column_int(count, 0) > 0;
            sqlite3_finalize(count);
            sqlite3_close(db);
            if (!kept) {
                start = Clock::now();
                const devservice::Catalogue catalogue(store);
                firstStart = seconds(Clock::now() - start);
            }
        }

        const auto start = Clock::now();
        devservice::CatalogueStore store(file);
        const devservice::Catalogue catalogue(store);
        const double startSeconds = seconds(Clock::now() - start);

        // The same start in its two parts, on a recogniser of its own.
        double reading = 0, indexing = 0;
        {
            devservice::Recogniser recogniser;
            const auto readStart = Clock::now();
            store.pageFeatures(recogniser.featureFingerprint(),
                               [&](const std::string&, const std::vector<unsigned char>& record) {
                                   recogniser.addPageRecord(record);
                               });
            const auto indexStart = Clock::now();
            recogniser.build();
            reading = seconds(indexStart - readStart);
            indexing = seconds(Clock::now() - indexStart);
        }

        int positives = 0, correct = 0, wrong = 0, missed = 0, strangers = 0, falsePositives = 0;
        std::vector<double> times;
        for (const Photo& photo : photos) {
            if (!photo.page.empty() && photo.page.starts_with("painted-") &&
                std::stoi(photo.page.substr(8)) + 8 >= size)
                continue; // not in this catalogue
            const auto shotStart = Clock::now();
            const cv::Mat image = cv::imdecode(photo.jpeg, cv::IMREAD_UNCHANGED);
            const auto found = catalogue.find(image, 1);
            times.push_back(seconds(Clock::now() - shotStart) * 1000);
            if (photo.page.empty()) {
                ++strangers;
                falsePositives += found.empty() ? 0 : 1;
            } else if (++positives; found.empty()) {
                ++missed;
            } else if (found.front().page->id == photo.page) {
                ++correct;
            } else {
                ++wrong;
            }
        }
        std::printf("| %d | %.0f | %s | %.2f | %.2f | %.2f | %.1f %% (%d/%d) | %d | %d | %d/%d | "
                    "%.1f | %.1f |\n",
                    size, double(fs::file_size(file)) / 1e6,
                    firstStart > 0 ? std::to_string(firstStart).substr(0, 5).c_str() : "—",
                    startSeconds, reading, indexing, 100.0 * correct / std::max(1, positives),
                    correct, positives, wrong, missed, falsePositives, strangers,
                    percentile(times, 0.5), percentile(times, 0.95));
        std::fflush(stdout);
    }
    return 0;
}
