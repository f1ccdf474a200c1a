#include <kestrel/service/server_helpers.hpp>

#include "service/header_values.hpp"
#include "service/recognition_request.hpp"
#include "support/diagnostics.hpp"
#include "json/lenient.hpp"

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/config/sdk_configuration.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/graphics.hpp>
#include <kestrel/platform/uuid.hpp>
#include <kestrel/service/kestrel_extensions.hpp>
#include <kestrel/service/kestrel_helpers.hpp>

#include <chrono>

namespace kestrel {

namespace {

constexpr std::string_view crlf = "\r\n";

// A text member of the host's information dictionary.
std::optional<std::string> mainInfoText(const char* key) {
    const auto& info = platform::Bundle::main()->infoDictionary();
    if (!info || !info->is_object()) {
        return std::nullopt;
    }
    const auto found = info->find(key);
    if (found == info->end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

// The "query" form value: the JSON object {"Language": code}, written by the serializer so that
// quotes or backslashes in the code stay inside the string.
std::string languageObject(const std::string& languageCode) {
    return JsonValue{{"Language", languageCode}}.dump(-1, ' ', false,
                                                      JsonValue::error_handler_t::replace);
}

} // namespace

std::string generateBoundaryString() { return "Boundary-" + platform::randomUuidString(); }

std::vector<std::uint8_t>
createBody(const std::optional<std::map<std::string, std::string>>& parameters,
           std::string_view boundary, std::span<const std::uint8_t> data, std::string_view mimeType,
           std::string_view filename) {
    std::vector<std::uint8_t> body;
    body.reserve(data.size() + 512);
    const auto delimiter = [&] {
        appendString(body, "--");
        appendString(body, boundary);
        appendString(body, crlf);
    };
    if (parameters) {
        for (const auto& [key, value] : *parameters) {
            delimiter();
            appendString(body, "Content-Disposition: form-data; name=\"");
            appendString(body, key);
            appendString(body, "\"\r\n\r\n");
            appendString(body, value);
            appendString(body, crlf);
        }
    }
    delimiter();
    appendString(body, "Content-Disposition: form-data; name=\"file\"; filename=\"");
    appendString(body, filename);
    appendString(body, "\"\r\n");
    appendString(body, "Content-Type: ");
    appendString(body, mimeType);
    appendString(body, "\r\n\r\n");
    body.insert(body.end(), data.begin(), data.end());
    appendString(body, crlf);
    appendString(body, "--");
    appendString(body, boundary);
    appendString(body, "--");
    return body;
}

namespace service {

std::variant<platform::HttpRequest, FailureCause>
recognitionRequest(const PhotoSource& photo, ConfigurationKey urlKey,
                   const std::string& languageCode) {
    const auto* image = std::get_if<std::shared_ptr<const platform::Bitmap>>(&photo);
    if (image && !*image) return FailureCause::missingPhoto;
    if (languageCode.empty()) return FailureCause::missingLanguage;
    KestrelManager& manager = KestrelManager::shared();
    const std::string address = SdkConfiguration::shared().urlValueForKey(urlKey);
    const auto apiKey = manager.getApiKey();
    const auto version = mainInfoText("CFBundleShortVersionString");
    // The cheap checks come first, so that a request that cannot be made costs no image work.
    if (!apiKey) return FailureCause::missingApiKey;
    if (!service::isSafeHeaderValue(*apiKey)) return FailureCause::unsafeHeaderValue;
    if (address.empty()) return FailureCause::missingAddress;
    if (!platform::isHttpUrl(address)) return FailureCause::badAddress;
    if (!version) return FailureCause::missingAppVersion;
    const auto jpeg = jpegToSend(
        photo, SdkConfiguration::shared().floatValueForKey(ConfigurationKey::sdkImageSendWidth),
        manager.useBlackAndWhite(), manager.getJpegQuality());
    if (const auto* cause = std::get_if<FailureCause>(&jpeg)) return *cause;

    platform::HttpRequest request(address);
    request.httpMethod = "POST";
    request.timeoutInterval = std::chrono::duration<double>(15.0);
    const std::string boundary = generateBoundaryString();
    const auto add = [&request](std::string_view value, const char* name) {
        request.addValue(service::withoutLineBreaks(value), name);
    };
    add("multipart/form-data; boundary=" + boundary, "Content-Type");
    add("application/json", "Accept");
    add(platform::randomUuidString(), "ApplicationInstanceId");
    add(mainInfoText("CFBundleName").value_or(""), "ApplicationName");
    add(*version, "ApplicationVersion");
    add(*apiKey, "ApiKey");
    add(manager.operatingSystem(), "DeviceOS");
    add(manager.deviceName(), "DeviceName");
    add(manager.systemVersion(), "DeviceSystemVersion");
    add(manager.systemVersionName(), "DeviceSystemVersionName");
    const SdkConfiguration& configuration = SdkConfiguration::shared();
    add(configuration.valueForKey(ConfigurationKey::sdkName), "SdkName");
    add(configuration.valueForKey(ConfigurationKey::sdkVersion), "SdkVersion");
    add(manager.networkType(), "DeviceConnectivity");
    add(manager.screenDiagonal(), "DeviceScreenDiagonal");
    add(manager.screenHeight(), "DeviceScreenHeight");
    add(manager.screenWidth(), "DeviceScreenWidth");

    std::optional<std::map<std::string, std::string>> parameters;
    if (urlKey == ConfigurationKey::sdkPicturesSearchUrl) {
        add(languageCode, "Language");
    } else if (urlKey == ConfigurationKey::sdkEnrichedImageUrl) {
        parameters = {{"query", languageObject(languageCode)}};
    }
    const auto body = createBody(parameters, boundary, std::get<std::vector<std::uint8_t>>(jpeg),
                                 "image/jpeg", "image.jpg");
    request.httpBody = std::string(body.begin(), body.end());
    support::printLine(address);
    return request;
}

} // namespace service

std::optional<platform::HttpRequest>
urlRequestWithImage(const std::shared_ptr<const platform::Bitmap>& image, ConfigurationKey urlKey,
                    const std::string& languageCode) {
    auto built = service::recognitionRequest(image, urlKey, languageCode);
    if (auto* request = std::get_if<platform::HttpRequest>(&built)) return std::move(*request);
    return std::nullopt;
}

void printJsonFromData(std::span<const std::uint8_t> data) {
    const auto parsed = json::parseDocument(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (parsed && parsed->is_object()) {
        support::printLine(parsed->dump(-1, ' ', false, JsonValue::error_handler_t::replace));
    }
}

} // namespace kestrel
