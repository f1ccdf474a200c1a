// The process's loaded bundles: those of added folders, of the install location and the copies
// compiled into the library, and the host's main bundle.
#include <kestrel/platform/bundle.hpp>

#include "platform/bundle/bundle_factory.hpp"

#include <mutex>

#ifndef KESTREL_DATADIR
#define KESTREL_DATADIR ""
#endif

namespace kestrel::platform {

namespace {

using BundleList = std::vector<std::shared_ptr<const Bundle>>;

struct Registry {
    std::mutex mutex;
    BundleList added; // most recently added first
    std::filesystem::path installLocation{KESTREL_DATADIR};
    std::optional<BundleList> installed; // read on first need
    bool useEmbedded = true;
    std::optional<BundleList> embedded; // made on first need
    std::shared_ptr<const Bundle> main = BundleFactory::fromInfo(JsonValue::object());
};

Registry& registry() {
    static auto* instance = new Registry();
    return *instance;
}

std::shared_ptr<const Bundle> findIn(const BundleList& list, std::string_view identifier) {
    for (const auto& bundle : list)
        if (bundle->bundleIdentifier() == identifier) return bundle;
    return nullptr;
}

} // namespace

std::shared_ptr<const Bundle> Bundle::withIdentifier(std::string_view identifier) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (auto bundle = findIn(r.added, identifier)) return bundle;
    if (!r.installed)
        r.installed =
            r.installLocation.empty() ? BundleList{} : BundleFactory::readFolder(r.installLocation);
    if (auto bundle = findIn(*r.installed, identifier)) return bundle;
    if (!r.useEmbedded) return nullptr;
    if (!r.embedded) r.embedded = BundleFactory::embedded();
    return findIn(*r.embedded, identifier);
}

std::size_t Bundle::addSearchFolder(const std::filesystem::path& folder) {
    // Read outside the lock: look-ups of other threads do not wait for the disk.
    auto bundles = BundleFactory::readFolder(folder);
    const auto count = bundles.size();
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.added.insert(r.added.begin(), bundles.begin(), bundles.end());
    return count;
}

void Bundle::setInstallLocation(std::filesystem::path folder) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.installLocation = std::move(folder);
    r.installed.reset();
}

std::filesystem::path Bundle::installLocation() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.installLocation;
}

void Bundle::unloadAll() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.added.clear();
    r.installLocation.clear();
    r.installed.reset();
    r.useEmbedded = false;
    r.embedded.reset();
}

void Bundle::restoreDefaults() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.added.clear();
    r.installLocation = KESTREL_DATADIR;
    r.installed.reset();
    r.useEmbedded = true;
}

std::shared_ptr<const Bundle> Bundle::main() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.main;
}

void Bundle::setMainInfoDictionary(JsonValue info) {
    auto bundle = BundleFactory::fromInfo(info.is_object() ? std::move(info) : JsonValue::object());
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.main = std::move(bundle);
}

} // namespace kestrel::platform
