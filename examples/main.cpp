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
//
// Add --json for one JSON document on standard output instead of readable text, and
// --service URL to use the service at URL (its /v1/... endpoints) instead of the configured one.
#include "page_printer.hpp"

#include <kestrel/kestrel.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
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

// The library writes its diagnostics (one line each) on standard output. This program keeps its
// own output clean for scripts by sending those lines to standard error instead.
FILE* output = stdout;

void separateLibraryDiagnostics() {
    std::fflush(stdout);
    output = ::fdopen(::dup(STDOUT_FILENO), "w");
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
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
    const auto folder =
        std::filesystem::temp_directory_path() / ("kestrel-scan-" + std::to_string(::getpid()));
    const auto bundle = folder / "Service.bundle";
    std::filesystem::create_directories(bundle);
    std::ofstream(bundle / "Info.json") << info.dump();
    // The error texts, in every language the library has them.
    for (const auto& language : builtIn->localizations()) {
        std::filesystem::create_directories(bundle / (language + ".lproj"));
        std::ofstream strings(bundle / (language + ".lproj") / "Localizable.strings");
        for (const auto error : {KestrelError::notEnrichedImage, KestrelError::parametersMissing}) {
            const std::string key(rawValue(error));
            strings << JsonValue(key).dump() << " = "
                    << JsonValue(builtIn->localizedString(key, {language})).dump() << ";\n";
        }
    }
    const bool loaded = platform::Bundle::addSearchFolder(folder) == 1;
    std::filesystem::remove_all(folder); // loaded bundles are kept in memory
    return loaded;
}

int usage() {
    std::cerr << "usage: kestrel-scan recognize PHOTO [--click] | search PHOTO | code TEXT [--type "
                 "KIND]\n"
                 "                    | config | device | watch | set-api-key KEY   [--json]\n";
    return 2;
}

std::shared_ptr<const platform::Bitmap> loadPhoto(const std::string& path) {
    // JPEG or PNG; a JPEG's EXIF orientation is applied, so the page stands upright.
    auto photo = platform::Bitmap::fromFile(path);
    if (!photo) std::cerr << "kestrel-scan: cannot read a JPEG or PNG image from " << path << "\n";
    return photo;
}

// The recognition calls complete on the library's delegate queue; this program simply waits.
template <typename T, typename Call>
std::pair<std::optional<T>, std::optional<KestrelError>> await(Call call) {
    std::promise<std::pair<std::optional<T>, std::optional<KestrelError>>> promise;
    call([&promise](std::optional<T> value, std::optional<KestrelError> error) {
        promise.set_value({std::move(value), error});
    });
    return promise.get_future().get();
}

int failed(KestrelError error) {
    std::cerr << "kestrel-scan: " << localizedString(error) << " (" << rawValue(error) << ")\n";
    return 1;
}

// A click report calls back only when the service counted it (status 204).
bool reportClick(const Image& page, const Action& action) {
    auto counted = std::make_shared<std::promise<void>>();
    Server::shared().clicksWithSessionId(page.sessionId.value_or(""), action.id.value_or(""),
                                         [counted](auto, auto) { counted->set_value(); });
    return counted->get_future().wait_for(std::chrono::seconds(15)) == std::future_status::ready;
}

int recognize(const std::string& path, bool click, bool json) {
    const auto photo = loadPhoto(path);
    if (!photo) return 1;
    const auto [page, error] =
        await<Image>([&](auto done) { Server::shared().enrichedImage(photo, done); });
    if (!page) return failed(*error);
    JsonValue result = scan::toJson(*page);
    std::string text = scan::describe(*page);
    bool counted = true;
    if (click) {
        const auto& actions = page->actions;
        counted = actions && !actions->empty() && reportClick(*page, actions->front());
        result["clickCounted"] = counted;
        text += counted ? "Click on \"" + actions->front().name.value_or("") +
                              "\" reported and counted.\n"
                        : "The click was not counted.\n";
    }
    show(json ? result.dump(2) + "\n" : text);
    return counted ? 0 : 1;
}

int search(const std::string& path, bool json) {
    const auto photo = loadPhoto(path);
    if (!photo) return 1;
    const auto [pictures, error] = await<std::vector<Picture>>(
        [&](auto done) { Server::shared().pictureSearch(photo, done); });
    if (!pictures) return failed(*error);
    show(json ? scan::toJson(*pictures).dump(2) + "\n" : scan::describe(*pictures));
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
    show(json ? scan::toJson(action).dump(2) + "\n"
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
        show(descriptors.dump(2) + "\n");
    } else {
        for (const auto& [name, value] : descriptors.items())
            show(name + ": " + value.get<std::string>() + "\n");
    }
    return 0;
}

volatile std::sig_atomic_t interrupted = 0;

int watch(bool json) {
    auto reachability = Reachability::create();
    const auto report = [json](Reachability& r) {
        const std::string status = r.currentReachabilityString();
        show(json ? JsonValue{{"status", status}}.dump() + "\n" : "network: " + status + "\n");
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
    std::optional<std::string> kind;
    if (const auto at = std::find(args.begin(), args.end(), "--type");
        at != args.end() && at + 1 != args.end()) {
        kind = *(at + 1);
        args.erase(at, at + 2);
    }
    std::optional<std::string> service;
    if (const auto at = std::find(args.begin(), args.end(), "--service");
        at != args.end() && at + 1 != args.end()) {
        service = *(at + 1);
        args.erase(at, at + 2);
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
        // The listing is a diagnostic of the library's, written on standard output.
        std::fflush(output);
        ::dup2(::fileno(output), STDOUT_FILENO);
        SdkConfiguration::shared().printAllConfigurations();
        return 0;
    }
    if (command == "device" && args.size() == 1) return device(json);
    if (command == "watch" && args.size() == 1) return watch(json);
    if (command == "set-api-key" && args.size() == 2) {
        KestrelLight::setApiKey(args[1]);
        show("API key stored.\n");
        return 0;
    }
    return usage();
}
