// kestrel-scan: a small host program that shows how an application uses KestrelSDKLight.
//
//   kestrel-scan recognize PHOTO [--click]   recognise a photographed page, optionally report a
//                                            click on its first action
//   kestrel-scan search PHOTO                 rank the catalogue's pictures against a photo
//   kestrel-scan code TEXT [--type KIND]      the action of a scanned QR/bar code (KIND: URL,
//                                            VCARD, SMS, PHONE, TEXT, ...; default: a web address)
//   kestrel-scan config | device              the library's configuration, the device descriptors
//   kestrel-scan watch                        network reachability changes, until Ctrl-C
//   kestrel-scan set-api-key KEY              stores the API key the service gave you
//   kestrel-scan click SESSION ACTION         reports a click on an action of a recognised page
//   kestrel-scan clicks [--flush]             the click reports waiting to be sent; --flush sends
//                                            them now and waits until they are delivered
//   kestrel-scan scan FRAME_DIR [--fps 30] [--continuous]
//                                            plays a folder of camera frames into a scanner at
//                                            the camera's rate; prints its states and the page
//
// Add --json for one JSON document on standard output instead of readable text,
// --service URL to use the service at URL (its /v1/... endpoints) instead of the configured one,
// and --timeout SECONDS to give up (cancel the call) when the service has not answered by then.
//
// Exit status: 0 done, 1 the photo cannot be read, 2 usage, 3 the page was not recognised,
// 4 the service could not be reached or failed, 5 the library is not configured (no API key...).
#include "frame_player.hpp"
#include "page_printer.hpp"

#include <kestrel/kestrel.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace kestrel;

// The library's diagnostic lines (one per call: the address, the reply's status...) go to
// standard error, so that standard output holds only this program's own output.
FILE* output = stdout;

void separateLibraryDiagnostics() {
    setDiagnosticsHandler([](std::string_view line) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    });
}

void show(const std::string& text) {
    std::fputs(text.c_str(), output);
    std::fflush(output);
}

// Points the library at another service: a copy of the library's bundle with other addresses,
// put before the built-in one. A host ships such a bundle instead (see the README).
bool useService(const std::string& base) {
    const auto builtIn = platform::Bundle::withIdentifier(kestrelBundleIdentifier);
    if (!builtIn || !builtIn->infoDictionary()) return false;
    JsonValue info = *builtIn->infoDictionary();
    info["SDK_ENRICHED_IMAGE_URL"] = base + "/v1/enriched-images";
    info["SDK_PICTURES_SEARCH_URL"] = base + "/v1/pictures/search";
    info["SDK_CLICKS_URL"] = base + "/v1/clicks";
    // A folder of this program's own, made by mkdtemp (mode 0700, a fresh name that no one can
    // have planted a link at), removed when this function returns.
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-scan-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return false;
    const std::filesystem::path folder = pattern;
    const struct RemoveFolder {
        const std::filesystem::path& folder;
        ~RemoveFolder() {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    } removeFolder{folder}; // a loaded bundle is kept in memory
    const auto bundle = folder / "Service.bundle";
    std::filesystem::create_directory(bundle);
    std::ofstream(bundle / "Info.json") << scan::jsonText(info);
    // The error texts, in every language the library has them.
    for (const auto& language : builtIn->localizations()) {
        std::filesystem::create_directories(bundle / (language + ".lproj"));
        std::ofstream strings(bundle / (language + ".lproj") / "Localizable.strings");
        std::vector<std::string> keys{std::string(rawValue(KestrelError::notEnrichedImage)),
                                      std::string(rawValue(KestrelError::parametersMissing))};
        for (int cause = 0; cause <= static_cast<int>(FailureCause::cancelled); ++cause)
            keys.push_back("failure." + std::string(causeName(static_cast<FailureCause>(cause))));
        for (const auto& key : keys) {
            strings << JsonValue(key).dump() << " = "
                    << JsonValue(builtIn->localizedString(key, {language})).dump() << ";\n";
        }
    }
    return platform::Bundle::addSearchFolder(folder) == 1;
}

int usage() {
    std::cerr
        << "usage: kestrel-scan recognize PHOTO [--click] | search PHOTO | code TEXT [--type "
           "KIND]\n"
           "                    | config | device | watch | set-api-key KEY | click SESSION "
           "ACTION\n"
           "                    | clicks [--flush] | scan FRAME_DIR [--fps N] [--continuous]\n"
           "                    [--json] [--service URL] [--timeout SECONDS]\n";
    return 2;
}

std::optional<std::chrono::milliseconds> timeout;

// The recognition calls complete on the library's delegate queue; this program waits, and
// cancels the call when the time-out passes first.
template <typename T, typename Start>
Result<T> await(Start start) {
    auto promise = std::make_shared<std::promise<Result<T>>>();
    auto future = promise->get_future();
    const Call call = start([promise](Result<T> result) { promise->set_value(std::move(result)); });
    if (timeout && future.wait_for(*timeout) == std::future_status::timeout) call.cancel();
    return future.get();
}

// The exit status of a failure's cause family.
int exitStatus(FailureCause cause, int httpStatus) {
    switch (cause) {
    case FailureCause::emptyReply:
        return 3;
    case FailureCause::httpStatus:
        return httpStatus == 404 ? 3 : 4;
    case FailureCause::missingPhoto:
    case FailureCause::photoNotEncodable:
    case FailureCause::unreadablePhoto:
        return 1;
    case FailureCause::untrustedCertificate:
    case FailureCause::transport:
    case FailureCause::undecodableReply:
    case FailureCause::cancelled:
        return 4;
    default:
        return 5;
    }
}

int failed(const Failure& failure) {
    const bool timedOut = timeout && failure.cause == FailureCause::cancelled;
    std::cerr << "kestrel-scan: "
              << (timedOut ? "no reply within " + std::to_string(timeout->count()) +
                                 " ms; the call was cancelled"
                           : failure.description())
              << " (" << causeName(failure.cause) << ")\n"
              << "kestrel-scan: " << failure.localizedDescription() << "\n";
    return exitStatus(failure.cause, failure.httpStatus);
}

// A click report calls back when the service counted it (status 204) or with why it did not;
// a report the click outbox keeps is sent again later (see `clicks`).
std::optional<Failure> reportClick(const std::string& session, const std::string& action) {
    const auto reply = await<std::optional<std::string>>(
        [&](auto done) { return Server::shared().clicksWithSessionId(session, action, done); });
    if (reply) return std::nullopt;
    std::cerr << "kestrel-scan: click not counted: " << reply.failure().description() << "\n";
    return reply.failure();
}

// The photo file (JPEG or PNG) is decoded straight to the size sent, upright.
int recognize(const std::filesystem::path& photo, bool click, bool json) {
    const auto page = await<Image>([&](auto done) {
        return Server::shared().enrichedImage(photo, Server::ImageResultCompletion(done));
    });
    if (!page) return failed(page.failure());
    JsonValue result = scan::toJson(page.value());
    std::string text = scan::describe(page.value());
    bool counted = true;
    if (click) {
        const auto& actions = page.value().actions;
        counted =
            actions && !actions->empty() &&
            !reportClick(page.value().sessionId.value_or(""), actions->front().id.value_or(""));
        result["clickCounted"] = counted;
        text += counted ? "Click on \"" + actions->front().name.value_or("") +
                              "\" reported and counted.\n"
                        : "The click was not counted.\n";
    }
    show(json ? scan::jsonText(result, 2) + "\n" : text);
    return counted ? 0 : 1;
}

int search(const std::filesystem::path& photo, bool json) {
    const auto pictures = await<std::vector<Picture>>([&](auto done) {
        return Server::shared().pictureSearch(photo, Server::PicturesResultCompletion(done));
    });
    if (!pictures) return failed(pictures.failure());
    show(json ? scan::jsonText(scan::toJson(pictures.value()), 2) + "\n"
              : scan::describe(pictures.value()));
    return 0;
}

int code(const std::string& text, const std::optional<std::string>& kind, bool json) {
    Action action = Action::fromCodeUrl(text);
    if (kind) {
        const auto type = fromRawValue<ActionType>(*kind);
        if (!type) {
            std::cerr << "kestrel-scan: unknown kind " << *kind << "\n";
            return 2;
        }
        action = Action::fromZbarData(text, *type);
    }
    show(json ? scan::jsonText(scan::toJson(action), 2) + "\n"
              : "Action from the scanned code:\n" + scan::describe(action));
    return 0;
}

int device(bool json) {
    const KestrelManager& m = KestrelManager::shared();
    const JsonValue descriptors = {{"DeviceOS", m.operatingSystem()},
                                   {"DeviceName", m.deviceName()},
                                   {"DeviceType", m.deviceType()},
                                   {"DeviceSystemVersion", m.systemVersion()},
                                   {"DeviceSystemVersionName", m.systemVersionName()},
                                   {"SystemLanguage", m.systemLanguage()},
                                   {"DeviceConnectivity", m.networkType()},
                                   {"DeviceScreenWidth", m.screenWidth()},
                                   {"DeviceScreenHeight", m.screenHeight()},
                                   {"DeviceScreenDiagonal", m.screenDiagonal()}};
    if (json) {
        show(scan::jsonText(descriptors, 2) + "\n");
    } else {
        for (const auto& [name, value] : descriptors.items())
            show(name + ": " + value.get<std::string>() + "\n");
    }
    return 0;
}

// The click outbox: what waits, and with --flush what is left once everything was tried.
int clicks(bool flush, bool json) {
    const auto outbox = Server::shared().clickOutbox();
    if (!outbox || !outbox->isStoring()) {
        std::cerr << "kestrel-scan: no click outbox is in use\n";
        return 5;
    }
    if (flush) {
        outbox->flush();
        const auto until =
            std::chrono::steady_clock::now() + timeout.value_or(std::chrono::seconds(30));
        while (outbox->pendingCount() > 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    JsonValue list = JsonValue::array();
    std::string text;
    for (const auto& report : outbox->pendingReports()) {
        const auto made =
            std::chrono::duration_cast<std::chrono::seconds>(report.madeAt.time_since_epoch())
                .count();
        list.push_back({{"sessionId", report.sessionId},
                        {"actionId", report.actionId},
                        {"madeAt", made},
                        {"attempts", report.attempts}});
        text += "  action " + report.actionId + " of session " + report.sessionId + ", " +
                std::to_string(report.attempts) + " failed attempts\n";
    }
    show(json ? JsonValue{{"file", outbox->file().string()}, {"waiting", list}}.dump(2) + "\n"
              : std::to_string(list.size()) + " click reports waiting in " +
                    outbox->file().string() + "\n" + text);
    return list.empty() ? 0 : (flush ? 4 : 0);
}

volatile std::sig_atomic_t interrupted = 0;

int watch(bool json) {
    auto reachability = Reachability::create();
    const auto report = [json](Reachability& r) {
        const std::string status = r.currentReachabilityString();
        show(json ? scan::jsonText(JsonValue{{"status", status}}) + "\n"
                  : "network: " + status + "\n");
    };
    reachability->setWhenReachable(report);
    reachability->setWhenUnreachable(report);
    reachability->startNotifier();
    std::signal(SIGINT, [](int) { interrupted = 1; });
    std::signal(SIGTERM, [](int) { interrupted = 1; });
    while (!interrupted) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const auto flag = [&args](const std::string& name) {
        const auto found = std::find(args.begin(), args.end(), name);
        if (found == args.end()) return false;
        args.erase(found);
        return true;
    };
    const bool json = flag("--json");
    const bool click = flag("--click");
    const bool flushClicks = flag("--flush");
    const bool continuous = flag("--continuous");
    // `--name VALUE`: the value, taken out of the arguments.
    const auto option = [&args](const std::string& name) -> std::optional<std::string> {
        const auto at = std::find(args.begin(), args.end(), name);
        if (at == args.end() || at + 1 == args.end()) return std::nullopt;
        std::string value = *(at + 1);
        args.erase(at, at + 2);
        return value;
    };
    // A number in (0, most]; none for anything else.
    const auto positive = [](const std::string& text, double most) -> std::optional<double> {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0' || !(value > 0) || value > most)
            return std::nullopt;
        return value;
    };
    const std::optional<std::string> kind = option("--type");
    const std::optional<std::string> service = option("--service");
    double fps = 30;
    if (const auto text = option("--fps")) {
        const auto value = positive(*text, 1000);
        if (!value) return usage();
        fps = *value;
    }
    if (const auto text = option("--timeout")) {
        const auto seconds = positive(*text, 86400);
        if (!seconds) return usage();
        timeout = std::chrono::milliseconds(static_cast<long long>(*seconds * 1000));
    }
    if (args.empty()) return usage();
    separateLibraryDiagnostics();
    if (service && !useService(*service)) {
        std::cerr << "kestrel-scan: cannot use the service at " << *service << "\n";
        return 1;
    }

    // What a host tells the library about itself: its name and version travel with every
    // recognition request, and a request is not sent without a version.
    platform::Bundle::setMainInfoDictionary(
        {{"CFBundleName", "kestrel-scan"}, {"CFBundleShortVersionString", "1.0"}});

    const std::string& command = args[0];
    if (command == "recognize" && args.size() == 2) return recognize(args[1], click, json);
    if (command == "search" && args.size() == 2) return search(args[1], json);
    if (command == "code" && args.size() == 2) return code(args[1], kind, json);
    if (command == "config" && args.size() == 1) {
        // The listing is a diagnostic of the library's: here it is the output.
        setDiagnosticsHandler(nullptr);
        SdkConfiguration::shared().printAllConfigurations();
        return 0;
    }
    if (command == "device" && args.size() == 1) return device(json);
    if (command == "watch" && args.size() == 1) return watch(json);
    if (command == "scan" && args.size() == 2)
        return scan::playFrames(args[1], {.fps = fps, .continuous = continuous, .json = json});
    if (command == "clicks" && args.size() == 1) return clicks(flushClicks, json);
    if (command == "click" && args.size() == 3) {
        const auto failure = reportClick(args[1], args[2]);
        if (!failure) show("Click reported and counted.\n");
        return failure ? exitStatus(failure->cause, failure->httpStatus) : 0;
    }
    if (command == "set-api-key" && args.size() == 2) {
        KestrelLight::setApiKey(args[1]);
        show("API key stored.\n");
        return 0;
    }
    return usage();
}
