#include <kestrel/platform/user_defaults.hpp>

#include <kestrel/platform/bundle.hpp>

#include "platform/runtime/instance_slot.hpp"
#include "platform/storage/sqlite_user_defaults.hpp"
#include "json/lenient.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <unistd.h>

namespace kestrel::platform {

namespace {

InstanceSlot<UserDefaults>& standardSlot() {
    // Kept until the process exits: the store may be used until then.
    static auto* slot = new InstanceSlot<UserDefaults>(
        [] { return UserDefaults::openFile(UserDefaults::defaultPath()); });
    return *slot;
}

// The host's bundle identifier when it gave one that is usable as a folder name, else the
// executable's name.
std::string applicationName() {
    if (const auto bundle = Bundle::main(); bundle && bundle->infoDictionary()) {
        const auto id = json::readText(*bundle->infoDictionary(), "CFBundleIdentifier");
        if (id && !id->empty() && *id != "." && *id != ".." &&
            id->find_first_of(std::string_view("/\0", 2)) == std::string::npos)
            return *id;
    }
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && !exe.filename().empty()) return exe.filename().string();
    return "kestrel";
}

// The platform's Boolean reading of a text: after white space, an optional sign and leading
// zeros, true when the first character is Y, y, T, t or a digit 1-9.
bool textIsTrue(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i == text.size()) return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

} // namespace

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) {
    auto value = valueForKey(key);
    if (!value) return std::nullopt;
    if (auto* text = std::get_if<std::string>(&*value)) return std::move(*text);
    return std::nullopt;
}

bool UserDefaults::boolForKey(std::string_view key) {
    const auto value = valueForKey(key);
    if (!value) return false;
    if (const auto* flag = std::get_if<bool>(&*value)) return *flag;
    if (const auto* number = std::get_if<double>(&*value)) return *number != 0.0;
    return textIsTrue(std::get<std::string>(*value));
}

float UserDefaults::floatForKey(std::string_view key) {
    const auto value = valueForKey(key);
    if (!value) return 0.0f;
    double number = 0.0;
    if (const auto* flag = std::get_if<bool>(&*value))
        number = *flag ? 1.0 : 0.0;
    else if (const auto* d = std::get_if<double>(&*value))
        number = *d;
    else
        number = json::parseLeadingDouble(std::get<std::string>(*value));
    if (!std::isfinite(number) || std::fabs(number) > std::numeric_limits<float>::max())
        return 0.0f;
    return static_cast<float>(number);
}

std::shared_ptr<UserDefaults> UserDefaults::standard() { return standardSlot().get(); }

void UserDefaults::setStandard(std::shared_ptr<UserDefaults> store) {
    standardSlot().set(std::move(store));
}

std::shared_ptr<UserDefaults> UserDefaults::openFile(const std::filesystem::path& path) {
    return std::make_shared<SqliteUserDefaults>(path);
}

std::filesystem::path UserDefaults::defaultPath() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".config";
    else
        base = std::filesystem::temp_directory_path() / ("kestrel-" + std::to_string(::getuid()));
    return base / applicationName() / "defaults.sqlite";
}

} // namespace kestrel::platform
