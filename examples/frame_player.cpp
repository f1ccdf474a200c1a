#include "frame_player.hpp"
#include "page_printer.hpp"

#include <kestrel/kestrel.hpp>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace scan {

namespace {

using namespace kestrel;
using Clock = std::chrono::steady_clock;

std::vector<std::filesystem::path> framesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> frames;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const auto extension = entry.path().extension();
        if (extension == ".jpg" || extension == ".jpeg" || extension == ".png")
            frames.push_back(entry.path());
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

// What the scanner reported, gathered from its callbacks (on the library's delegate queue).
struct Report {
    std::mutex mutex;
    std::condition_variable changed;
    Clock::time_point start = Clock::now();
    Scanner::State state = Scanner::State::idle;
    JsonValue states = JsonValue::array();
    JsonValue pages = JsonValue::array();
    int failures = 0;
    bool json = false;

    double seconds() const { return std::chrono::duration<double>(Clock::now() - start).count(); }
    void print(const std::string& line) {
        if (json) return;
        std::printf("[%6.2f s] %s\n", seconds(), line.c_str());
        std::fflush(stdout);
    }
};

} // namespace

int playFrames(const std::filesystem::path& folder, const PlayOptions& options) {
    const auto frames = framesIn(folder);
    if (frames.empty()) {
        std::fprintf(stderr, "kestrel-scan: no .jpg or .png frames in %s\n", folder.c_str());
        return 1;
    }
    auto report = std::make_shared<Report>();
    report->json = options.json;
    Scanner::Options scannerOptions;
    scannerOptions.stopAtFirstPage = !options.continuous;
    Scanner scanner(Server::shared(), scannerOptions,
                    {.pageFound =
                         [report](const Image& page) {
                             std::lock_guard lock(report->mutex);
                             report->print("found: " + page.title.value_or("(untitled)"));
                             JsonValue found = toJson(page);
                             found["atSeconds"] = report->seconds();
                             report->pages.push_back(found);
                         },
                     .stateChanged =
                         [report](Scanner::State state) {
                             std::lock_guard lock(report->mutex);
                             report->state = state;
                             report->print("state: " + std::string(stateName(state)));
                             report->states.push_back(
                                 JsonValue{{"state", std::string(stateName(state))},
                                           {"atSeconds", report->seconds()}});
                             report->changed.notify_all();
                         },
                     .failed =
                         [report](const Failure& failure) {
                             std::lock_guard lock(report->mutex);
                             ++report->failures;
                             report->print("request failed: " + failure.description());
                         }});

    // The camera: one frame every 1/fps seconds, decoded as the camera would deliver it, handed
    // over and forgotten. A frame the scanner does not take is simply gone, as on a phone.
    const auto period = std::chrono::duration<double>(1.0 / options.fps);
    int unreadable = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::this_thread::sleep_until(report->start +
                                      std::chrono::duration_cast<Clock::duration>(period * i));
        {
            std::lock_guard lock(report->mutex);
            if (report->state == Scanner::State::found && !options.continuous) break;
        }
        const auto frame = platform::Bitmap::fromFile(frames[i]);
        if (!frame) {
            ++unreadable;
            continue;
        }
        scanner.submit(*frame);
    }
    // The last frame sent may still be in flight.
    {
        std::unique_lock lock(report->mutex);
        report->changed.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return report->state != Scanner::State::sending; });
    }
    const auto counts = scanner.counters();
    scanner.stop();

    std::lock_guard lock(report->mutex);
    if (options.json) {
        std::printf("%s\n", jsonText(JsonValue{{"frames", double(frames.size())},
                                               {"framesJudged", double(counts.framesJudged)},
                                               {"requestsSent", double(counts.requestsSent)},
                                               {"failures", report->failures},
                                               {"states", report->states},
                                               {"pages", report->pages}},
                                     2)
                                .c_str());
    } else {
        std::printf("%zu frames played at %g fps, %llu judged, %llu sent, %zu page(s) found\n",
                    frames.size(), options.fps,
                    static_cast<unsigned long long>(counts.framesJudged),
                    static_cast<unsigned long long>(counts.requestsSent), report->pages.size());
    }
    if (unreadable == static_cast<int>(frames.size())) return 1;
    if (!report->pages.empty()) return 0;
    return report->failures > 0 && report->failures == static_cast<int>(counts.requestsSent) ? 4
                                                                                             : 3;
}

} // namespace scan
