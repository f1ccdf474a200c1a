// Recognitions per second and latency against a local server, for 1, 8 and 64 calls in flight:
// the library end to end (Server::enrichedImage: preparation of a 1000 x 750 photo, JPEG, request,
// reply decoding), the library's transport alone (the same request, built once, sent on the
// default session and on one allowed as many connections as calls in flight), and the same
// multipart upload made by `curl` (one process per request) and by Python's http.client (one
// keep-alive connection per worker). The server is cpp-httplib on 127.0.0.1 answering every upload
// with a small recognised page.
#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/json.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/graphics.hpp>
#include <kestrel/platform/locale.hpp>
#include <kestrel/platform/user_defaults.hpp>
#include <kestrel/service/server.hpp>
#include <kestrel/service/server_helpers.hpp>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr double kSeconds = 4.0;
constexpr const char* kPage =
    R"({"Id":"p1","Title":"Page","SessionId":"s1","Actions":[{"Id":"a1","Name":"Open",)"
    R"("Type":"url","Content":"{\"Url\":\"https://example.org\"}"}]})";

struct Run {
    std::size_t count = 0;
    double seconds = 0;
    std::vector<double> latenciesMs;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

// Keeps `concurrency` calls in flight for kSeconds; call(done) starts one and calls done().
template <typename Call>
Run keepInFlight(int concurrency, Call call) {
    Run run;
    std::mutex mutex;
    const auto started = Clock::now();
    const auto deadline = started + std::chrono::duration<double>(kSeconds);
    std::vector<std::thread> workers;
    for (int w = 0; w < concurrency; ++w)
        workers.emplace_back([&] {
            while (Clock::now() < deadline) {
                const auto start = Clock::now();
                std::promise<void> finished;
                call([&finished] { finished.set_value(); });
                finished.get_future().wait();
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                std::lock_guard lock(mutex);
                run.latenciesMs.push_back(ms);
            }
        });
    for (auto& worker : workers) worker.join();
    run.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    run.count = run.latenciesMs.size();
    return run;
}

Run external(const fs::path& script, const std::string& mode, const std::string& url,
             const fs::path& bodyFile, const std::string& boundary, int concurrency) {
    const std::string command = "/usr/bin/python3 " + script.string() + " " + mode + " " + url +
                                " " + bodyFile.string() + " " + boundary + " " +
                                std::to_string(concurrency) + " " + std::to_string(kSeconds);
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[65536];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    if (!pipe || ::pclose(pipe) != 0 || out.empty()) {
        std::cerr << mode << " client failed\n";
        return {};
    }
    const auto result = kestrel::JsonValue::parse(out);
    return {result["count"].get<std::size_t>(), result["seconds"].get<double>(),
            result["latencies_ms"].get<std::vector<double>>()};
}

FILE* table = stdout;

void print(const char* client, int concurrency, const Run& run) {
    std::fprintf(table, "| %-44s | %3d | %8.0f | %8.2f | %8.2f |\n", client, concurrency,
                 static_cast<double>(run.count) / run.seconds, percentile(run.latenciesMs, 0.5),
                 percentile(run.latenciesMs, 0.99));
    std::fflush(table);
}

// A 1000 x 750 photo of a page, as the host would hand it over after decoding a JPEG.
std::shared_ptr<const kestrel::platform::Bitmap> makePhoto() {
    std::vector<std::uint8_t> px(1000 * 750 * 4);
    for (int y = 0; y < 750; ++y)
        for (int x = 0; x < 1000; ++x) {
            std::uint8_t* p = &px[(static_cast<std::size_t>(y) * 1000 + x) * 4];
            const bool ink = (x % 23 < 2) || (y % 19 < 2 && x % 50 < 30);
            const auto v = static_cast<std::uint8_t>(ink ? 30 : 220 + (x * 7 + y * 13) % 30);
            p[0] = v;
            p[1] = static_cast<std::uint8_t>(v - 10);
            p[2] = static_cast<std::uint8_t>(255 - v / 3);
            p[3] = 255;
        }
    const auto raw = kestrel::platform::Bitmap::withPixels(kestrel::platform::PixelFormat::rgba8,
                                                           1000, 750, 0, std::move(px));
    const auto jpeg = kestrel::platform::jpegRepresentation(raw.get(), 0.9);
    return kestrel::platform::Bitmap::fromEncoded(*jpeg);
}

} // namespace

int main() {
    using namespace kestrel;
    const fs::path work =
        fs::temp_directory_path() / ("kestrel-call-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    platform::UserDefaults::setStandard(platform::UserDefaults::openFile(work / "settings.sqlite"));

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(160); };
    // As production servers do: no 40 ms wait for every reply, connections kept for many requests.
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(100000);
    // The body is read part by part: cpp-httplib's multipart reader wants a line break after the
    // closing delimiter, which the request (rightly) does not have, and reports that as a failure
    // after it has delivered every part.
    server.Post("/v1/enriched-images", [](const httplib::Request&, httplib::Response& response,
                                          const httplib::ContentReader& reader) {
        std::string current;
        std::map<std::string, std::size_t> partSizes;
        reader(
            [&](const httplib::MultipartFormData& part) {
                current = part.name;
                return true;
            },
            [&](const char*, std::size_t n) {
                partSizes[current] += n;
                return true;
            });
        if (partSizes["file"] < 1000 || partSizes.count("query") == 0) {
            response.status = 400;
            return;
        }
        response.status = 200;
        response.set_content(kPage, "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    JsonValue info = *platform::Bundle::withIdentifier(kestrelBundleIdentifier)->infoDictionary();
    info["SDK_ENRICHED_IMAGE_URL"] = base + "/v1/enriched-images";
    fs::create_directories(work / "Bench.bundle");
    std::ofstream(work / "Bench.bundle" / "Info.json") << info.dump();
    platform::Bundle::addSearchFolder(work);
    platform::Bundle::setMainInfoDictionary(
        {{"CFBundleName", "Bench"}, {"CFBundleShortVersionString", "1.0"}});
    KestrelLight::setApiKey("bench-key");
    KestrelManager::shared().setUseBlackAndWhite(false);
    KestrelManager::shared().setJpegQuality(0.8);
    platform::Locale::setPreferredLanguages({"en"});

    // The calls print a few lines each; those go to /dev/null, the table to the real output.
    std::fflush(stdout);
    table = ::fdopen(::dup(1), "w");
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::close(null);

    // The default session opens at most 6 connections to a host; the other clients open one per
    // call in flight, so the transport is also measured with that many.
    auto wideConfiguration = platform::HttpSessionConfiguration::defaultConfiguration();
    wideConfiguration.httpMaximumConnectionsPerHost = 64;
    const auto wideSession = platform::HttpSession::create(wideConfiguration);
    const auto photo = makePhoto();
    const auto request = urlRequestWithImage(photo, ConfigurationKey::sdkEnrichedImageUrl, "en");
    const std::string boundary = request->value("Content-Type")
                                     ->substr(std::string("multipart/form-data; boundary=").size());
    std::ofstream(work / "body.bin", std::ios::binary) << *request->httpBody;
    const fs::path script = fs::path(KESTREL_BENCH_SOURCE_DIR) / "upload_clients.py";

    std::fprintf(table,
                 "request body %zu bytes (JPEG of 1000 x 750 at quality 0.8), %.0f s per row\n\n",
                 request->httpBody->size(), kSeconds);
    std::fprintf(table, "| %-44s | %3s | %8s | %8s | %8s |\n|---|---|---|---|---|\n", "client",
                 "in flight", "calls/s", "p50 ms", "p99 ms");
    for (const int concurrency : {1, 8, 64}) {
        const Run endToEnd = keepInFlight(concurrency, [&](auto done) {
            Server::shared().enrichedImage(photo, [done](auto image, auto) {
                if (!image) std::abort();
                done();
            });
        });
        print("library, end to end (prepare, send, decode)", concurrency, endToEnd);
        const auto sendOn = [&](platform::HttpSession& session) {
            return keepInFlight(concurrency, [&](auto done) {
                session
                    .dataTask(*request,
                              [done](auto, auto response, auto) {
                                  if (!response || response->statusCode != 200) std::abort();
                                  done();
                              })
                    ->resume();
            });
        };
        print("library transport, request built once", concurrency,
              sendOn(*Server::shared().session()));
        print("library transport, 64 connections per host", concurrency, sendOn(*wideSession));
        print("Python http.client, keep-alive", concurrency,
              external(script, "keepalive", base + "/v1/enriched-images", work / "body.bin",
                       boundary, concurrency));
        print("curl, one process per request", concurrency,
              external(script, "curl", base + "/v1/enriched-images", work / "body.bin", boundary,
                       concurrency));
    }
    server.stop();
    serving.join();
    fs::remove_all(work);
}
