// Feeds arbitrary texts, as the API key, the language code and the identifiers of a click, to the
// building of the recognition and click requests. Besides sanitizer findings, it stops on a built
// request whose address or header values could end or split a line, or whose address is not what
// percent-encoding allows.
#include "service/click_sending.hpp"
#include "service/header_values.hpp"
#include "service/recognition_request.hpp"

#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/user_defaults.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

using namespace kestrel;

namespace {

// Settings in memory: the fuzzer stores an API key per input.
class MemoryDefaults final : public platform::UserDefaults {
public:
    std::optional<platform::DefaultsValue> valueForKey(std::string_view key) override {
        const auto it = values_.find(std::string(key));
        return it == values_.end() ? std::nullopt : std::optional(it->second);
    }
    void setValue(std::string_view key, const platform::DefaultsValue& value) override {
        values_[std::string(key)] = value;
    }
    void removeObjectForKey(std::string_view key) override { values_.erase(std::string(key)); }

private:
    std::map<std::string, platform::DefaultsValue> values_;
};

void check(bool condition) {
    if (!condition) std::abort();
}

void checkRequest(const platform::HttpRequest& request) {
    for (const unsigned char c : request.url) check(c > 0x20 && c < 0x7F);
    for (const auto& header : request.headers)
        check(service::isSafeHeaderValue(header.name) && service::isSafeHeaderValue(header.value));
}

std::shared_ptr<const platform::Bitmap> photo() {
    static const auto bitmap = platform::Bitmap::withPixels(
        platform::PixelFormat::rgba8, 8, 8, 0, std::vector<std::uint8_t>(8 * 8 * 4, 90));
    return bitmap;
}

// The library's configuration with a send width of 16: requests are built the same way, without
// scaling and encoding a large photo for each. Removed when the fuzzer exits.
class SmallSendWidth {
public:
    SmallSendWidth() {
        char name[] = "/tmp/kestrel-fuzz-XXXXXX";
        if (::mkdtemp(name) == nullptr) return;
        folder_ = name;
        const auto builtIn = platform::Bundle::withIdentifier(kestrelBundleIdentifier);
        if (!builtIn || !builtIn->infoDictionary()) return;
        JsonValue info = *builtIn->infoDictionary();
        info["SDK_IMAGE_SEND_WIDTH"] = "16";
        std::filesystem::create_directories(folder_ / "KestrelUnderFuzzing.bundle");
        std::ofstream(folder_ / "KestrelUnderFuzzing.bundle" / "Info.json") << info.dump();
        platform::Bundle::addSearchFolder(folder_);
    }
    ~SmallSendWidth() {
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }

private:
    std::filesystem::path folder_;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static SmallSendWidth smallSendWidth;
    platform::UserDefaults::setStandard(std::make_shared<MemoryDefaults>());
    platform::Bundle::setMainInfoDictionary({{"CFBundleShortVersionString", "1.0"}});
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Four texts, separated by 0xFF bytes (which no text needs).
    std::vector<std::string> texts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && texts.size() < 4)
            texts.emplace_back();
        else
            texts.back().push_back(static_cast<char>(data[i]));
    }
    texts.resize(4);
    const auto& [apiKey, language, sessionId, actionId] =
        std::tie(texts[0], texts[1], texts[2], texts[3]);

    KestrelLight::setApiKey(apiKey);
    // A recognition request reads the device's descriptors and encodes a photo: a few
    // milliseconds. One input in sixteen builds one, so that the cheap paths get most of the runs.
    if (size > 0 && data[size - 1] % 16 == 0) {
        const auto key = data[size - 1] % 32 == 0 ? ConfigurationKey::sdkEnrichedImageUrl
                                                  : ConfigurationKey::sdkPicturesSearchUrl;
        const auto recognition = service::recognitionRequest(photo(), key, language);
        if (const auto* request = std::get_if<platform::HttpRequest>(&recognition))
            checkRequest(*request);
    }
    const auto click = service::clickRequest(sessionId, actionId);
    if (const auto* request = std::get_if<platform::HttpRequest>(&click)) checkRequest(*request);

    const std::string encoded = service::percentEncoded(actionId);
    for (const unsigned char c : encoded) check(c > 0x20 && c < 0x7F);
    check(service::isSafeHeaderValue(service::withoutLineBreaks(apiKey)));
    return 0;
}
