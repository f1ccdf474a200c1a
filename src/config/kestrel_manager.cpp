#include <kestrel/config/kestrel_manager.hpp>

#include <kestrel/config/reachability.hpp>
#include <kestrel/config/sdk_configuration.hpp>
#include <kestrel/platform/user_defaults.hpp>
#include <kestrel/platform/uuid.hpp>

#include "support/diagnostics.hpp"

namespace kestrel {

namespace {

constexpr const char* apiKeyKey = "apiKey";
constexpr const char* applicationInstanceIdKey = "applicationInstanceId";
constexpr const char* useBlackAndWhiteKey = "useBlackAndWhite";
constexpr const char* jpegQualityKey = "jpegQuality";
constexpr const char* hasBeenMigratedKey = "hasBeenMigrated";

std::shared_ptr<platform::UserDefaults> store() { return platform::UserDefaults::standard(); }

} // namespace

KestrelManager& KestrelManager::shared() {
    static KestrelManager* const manager = new KestrelManager(); // never destroyed
    return *manager;
}

KestrelManager::KestrelManager() : KestrelManager(Reachability::create()) {}

KestrelManager::KestrelManager(std::shared_ptr<Reachability> reachability)
    : reachability_(std::move(reachability)) {
    support::printLine("Initializing KestrelManager");
    if (getApplicationInstanceId()) return;
    setUseBlackAndWhite(true);
    setApplicationInstanceId(platform::randomUuidString());
    setJpegQuality(
        SdkConfiguration::shared().floatValueForKey(ConfigurationKey::sdkImageSendQuality));
}

void KestrelManager::setApiKey(const std::string& apiKey) { store()->setValue(apiKeyKey, apiKey); }

std::optional<std::string> KestrelManager::getApiKey() const {
    return store()->stringForKey(apiKeyKey);
}

void KestrelManager::setApplicationInstanceId(const std::string& applicationId) {
    store()->setValue(applicationInstanceIdKey, applicationId);
}

std::optional<std::string> KestrelManager::getApplicationInstanceId() const {
    return store()->stringForKey(applicationInstanceIdKey);
}

void KestrelManager::setUseBlackAndWhite(bool useBlackAndWhite) {
    store()->setValue(useBlackAndWhiteKey, useBlackAndWhite);
}

bool KestrelManager::useBlackAndWhite() const {
    const auto value = store()->valueForKey(useBlackAndWhiteKey);
    if (value)
        if (const auto* flag = std::get_if<bool>(&*value)) return *flag;
    return true;
}

void KestrelManager::setJpegQuality(CGFloat quality) { store()->setValue(jpegQualityKey, quality); }

CGFloat KestrelManager::getJpegQuality() const {
    return static_cast<CGFloat>(store()->floatForKey(jpegQualityKey));
}

void KestrelManager::setHasBeenMigrated(bool hasBeenMigrated) {
    store()->setValue(hasBeenMigratedKey, hasBeenMigrated);
}

bool KestrelManager::hasBeenMigrated() const { return store()->boolForKey(hasBeenMigratedKey); }

void KestrelLight::setApiKey(const std::string& apiKey) {
    KestrelManager::shared().setApiKey(apiKey);
}

} // namespace kestrel
