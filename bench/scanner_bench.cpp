// The scanner on a filmed scan (10 s at 30 fps, 1920 x 1080: 3 s of a hand sweeping the phone over
// a catalogue page, then the phone held still over it, then 2 s over another page), played in
// real time into a continuous Scanner against the local recognition service on 127.0.0.1:
// frames judged per second on one core, CPU and wall time of submit per frame (median, p99),
// requests sent in each part of the film, and the time from the first still frame to the page
// found against one recognition call of the same frame.
#include "catalogue.hpp"
#include "catalogue_store.hpp"
#include "page_description.hpp"
#include "recognition_service.hpp"
#include "scan_film.hpp"

#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/json.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/locale.hpp>
#include <kestrel/platform/user_defaults.hpp>
#include <kestrel/service/scanner.hpp>
#include <kestrel/service/server.hpp>
#include <kestrel/support/diagnostics.hpp>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace kestrel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
namespace synth = devservice::synth;

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

// The frames as a camera delivers them: BGRA, decoded from the film's JPEG frames.
std::shared_ptr<const platform::Bitmap> cameraFrame(const std::vector<unsigned char>& jpeg) {
    const auto decoded = platform::Bitmap::fromEncoded(jpeg);
    if (!decoded) return nullptr;
    std::vector<std::uint8_t> bgra(decoded->stride() * decoded->pixelHeight());
    for (int y = 0; y < decoded->pixelHeight(); ++y) {
        const std::uint8_t* in = decoded->row(y);
        std::uint8_t* out = bgra.data() + decoded->stride() * y;
        for (int x = 0; x < decoded->pixelWidth(); ++x, in += 4, out += 4) {
            out[0] = in[2], out[1] = in[1], out[2] = in[0], out[3] = in[3];
        }
    }
    return platform::Bitmap::withPixels(platform::PixelFormat::bgra8Premultiplied,
                                        decoded->pixelWidth(), decoded->pixelHeight(),
                                        decoded->stride(), std::move(bgra));
}

} // namespace

int main() {
    setDiagnosticsHandler([](std::string_view) {});
    const fs::path work =
        fs::temp_directory_path() / ("kestrel-scanner-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    platform::UserDefaults::setStandard(platform::UserDefaults::openFile(work / "settings.sqlite"));

    devservice::CatalogueStore store(work / "catalogue.sqlite");
    devservice::importFolder(store, KESTREL_DEVSERVICE_CATALOGUE);
    const devservice::Catalogue catalogue(store);
    devservice::RecognitionService service(store, catalogue);
    const int port = service.bind("127.0.0.1", 0);
    std::thread serving([&] { service.run(); });
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    JsonValue info = *platform::Bundle::withIdentifier(kestrelBundleIdentifier)->infoDictionary();
    info["SDK_ENRICHED_IMAGE_URL"] = base + "/v1/enriched-images";
    fs::create_directories(work / "Bench.bundle");
    std::ofstream(work / "Bench.bundle" / "Info.json") << info.dump();
    platform::Bundle::addSearchFolder(work);
    platform::Bundle::setMainInfoDictionary({{"CFBundleShortVersionString", "1.0"}});
    platform::Locale::setPreferredLanguages({"en"});
    KestrelLight::setApiKey("demo-key-0001");

    const fs::path pages = KESTREL_DEVSERVICE_CATALOGUE;
    const synth::FilmShape shape;
    const synth::ScanFilm film(cv::imread((pages / "harbour-news-p1.jpg").string()),
                               cv::imread((pages / "museum-guide.jpg").string()), shape);
    std::printf("filming %d frames of %dx%d...\n", film.frameCount(), shape.size.width,
                shape.size.height);
    std::vector<std::vector<unsigned char>> jpegs(static_cast<std::size_t>(film.frameCount()));
    for (int i = 0; i < film.frameCount(); ++i)
        cv::imencode(".jpg", film.frame(i), jpegs[static_cast<std::size_t>(i)],
                     {cv::IMWRITE_JPEG_QUALITY, 90});

    // 1. Judging alone: a scanner that never finds a frame sharp enough to send.
    {
        Scanner::Options options;
        options.minimumSharpness = 1e9;
        Scanner scanner(Server::shared(), options, {});
        std::vector<double> cpu;
        for (int i = 0; i < film.frameCount(); i += 3) {
            const auto frame = cameraFrame(jpegs[static_cast<std::size_t>(i)]);
            const double before = threadCpuMs();
            scanner.submit(*frame);
            cpu.push_back(threadCpuMs() - before);
        }
        double total = 0;
        for (const double ms : cpu) total += ms;
        std::printf("judging only: %.0f frames/s on one core (submit CPU median %.2f ms, p99 "
                    "%.2f ms)\n",
                    1000.0 * static_cast<double>(cpu.size()) / total, percentile(cpu, 0.5),
                    percentile(cpu, 0.99));
    }

    // 2. One recognition call of the first still frame, the reference for the time to found.
    const int firstStill = static_cast<int>(shape.moving * shape.fps);
    std::vector<double> callMs;
    for (int round = 0; round < 7; ++round) {
        const auto frame = cameraFrame(jpegs[static_cast<std::size_t>(firstStill + round)]);
        std::promise<bool> done;
        const auto start = Clock::now();
        Server::shared().enrichedImage(
            frame,
            Server::ImageResultCompletion([&](Result<Image> page) { done.set_value(page.ok()); }));
        const bool found = done.get_future().get();
        callMs.push_back(msSince(start));
        if (!found)
            std::printf("warning: the still frame %d was not recognised\n", firstStill + round);
    }
    const double oneCall = percentile(callMs, 0.5);

    // 3. The film in real time, continuous scanning.
    std::mutex mutex;
    std::vector<std::pair<double, std::string>> found;
    std::vector<double> sentAt;
    auto start = Clock::now();
    Scanner::Options options;
    options.stopAtFirstPage = false;
    std::vector<double> submitCpu, submitWall;
    {
        Scanner scanner(Server::shared(), options,
                        {.pageFound =
                             [&](const Image& page) {
                                 std::lock_guard lock(mutex);
                                 found.emplace_back(msSince(start), page.title.value_or(""));
                             },
                         .stateChanged =
                             [&](Scanner::State state) {
                                 std::lock_guard lock(mutex);
                                 if (state == Scanner::State::sending)
                                     sentAt.push_back(msSince(start));
                             }});
        start = Clock::now();
        for (int i = 0; i < film.frameCount(); ++i) {
            const auto frame = cameraFrame(jpegs[static_cast<std::size_t>(i)]);
            std::this_thread::sleep_until(start +
                                          std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(film.timeOf(i))));
            const double cpuBefore = threadCpuMs();
            const auto wallBefore = Clock::now();
            scanner.submit(*frame);
            submitWall.push_back(msSince(wallBefore));
            submitCpu.push_back(threadCpuMs() - cpuBefore);
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const auto counts = scanner.counters();
        std::printf("real time: %llu frames submitted, %llu judged, %llu sent\n",
                    static_cast<unsigned long long>(counts.framesSubmitted),
                    static_cast<unsigned long long>(counts.framesJudged),
                    static_cast<unsigned long long>(counts.requestsSent));
    }
    std::printf(
        "submit per frame: CPU median %.2f ms, p99 %.2f ms; wall median %.2f ms, p99 %.2f ms, "
        "longest %.2f ms\n",
        percentile(submitCpu, 0.5), percentile(submitCpu, 0.99), percentile(submitWall, 0.5),
        percentile(submitWall, 0.99), percentile(submitWall, 1.0));
    const double stillMs = shape.moving * 1000,
                 secondMs = (shape.seconds - shape.secondPage) * 1000;
    const auto sentBetween = [&](double from, double to) {
        return std::count_if(sentAt.begin(), sentAt.end(),
                             [&](double t) { return t >= from && t < to; });
    };
    std::printf(
        "requests sent: %ld while moving, %ld for the still page, %ld for the second page\n",
        sentBetween(0, stillMs), sentBetween(stillMs, secondMs), sentBetween(secondMs, 1e9));
    for (const auto& [at, title] : found) std::printf("found at %.0f ms: %s\n", at, title.c_str());
    const auto first =
        std::find_if(found.begin(), found.end(), [&](const auto& f) { return f.first >= stillMs; });
    if (first != found.end())
        std::printf("first still frame to found: %.0f ms; one recognition call %.0f ms (%.2fx)\n",
                    first->first - stillMs, oneCall, (first->first - stillMs) / oneCall);
    else
        std::printf("the still page was not found\n");

    service.stop();
    serving.join();
    fs::remove_all(work);
    return 0;
}
