#include "page_description.hpp"

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace kestrel::devservice {
namespace {

using nlohmann::json;

constexpr std::array<std::string_view, 11> kActionKinds{
    "CALENDAR", "URL", "VCARD", "SHARE", "EMAIL", "DATA", "SMS", "MAP", "PHONE", "TEXT", "UNKNOWN"};

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

std::optional<std::string> optionalText(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    if (!found->is_string()) fail(std::string("\"") + key + "\" must be a string");
    return found->get<std::string>();
}

std::string requiredText(const json& object, const char* key) {
    auto text = optionalText(object, key);
    if (!text || text->empty()) fail(std::string("\"") + key + "\" is missing");
    return *text;
}

std::optional<std::int64_t> optionalInteger(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    if (!found->is_number_integer()) fail(std::string("\"") + key + "\" must be a whole number");
    return found->get<std::int64_t>();
}

std::optional<double> optionalNumber(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    if (!found->is_number()) fail(std::string("\"") + key + "\" must be a number");
    return found->get<double>();
}

std::optional<bool> optionalFlag(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    if (!found->is_boolean()) fail(std::string("\"") + key + "\" must be true or false");
    return found->get<bool>();
}

// Style and content dictionaries are written as objects and kept as their JSON text.
std::optional<std::string> optionalDictionary(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    if (!found->is_object()) fail(std::string("\"") + key + "\" must be an object");
    return found->dump();
}

PageAction readAction(const json& object) {
    if (!object.is_object()) fail("each action must be an object");
    PageAction action;
    action.id = requiredText(object, "id");
    action.name = requiredText(object, "name");
    action.kind = requiredText(object, "type");
    if (std::find(kActionKinds.begin(), kActionKinds.end(), action.kind) == kActionKinds.end())
        fail("action \"" + action.id + "\": unknown type \"" + action.kind + "\"");
    action.priority = optionalInteger(object, "priority");
    action.order = optionalInteger(object, "order");
    action.icon = optionalText(object, "icon");
    action.backgroundImage = optionalText(object, "backgroundImage");
    action.style = optionalDictionary(object, "style");
    action.content = optionalDictionary(object, "content");
    return action;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path.string());
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace

Page readPageDescription(const std::string& text, const std::filesystem::path& folder) {
    const json object = json::parse(text, nullptr, false);
    if (object.is_discarded() || !object.is_object()) fail("not a JSON object");
    Page page;
    page.id = requiredText(object, "id");
    page.documentId = optionalText(object, "documentId");
    page.organizationId = optionalText(object, "organizationId");
    page.title = optionalText(object, "title");
    page.titleStyle = optionalDictionary(object, "titleStyle");
    page.language = optionalText(object, "language");
    page.thumbnailUrl = optionalText(object, "thumbnailUrl");
    page.data = optionalText(object, "data");
    page.order = optionalInteger(object, "order");
    page.autoTrigger = optionalFlag(object, "autoTrigger");
    if (const auto prefs = object.find("scanPrefs"); prefs != object.end() && !prefs->is_null()) {
        if (!prefs->is_object()) fail("\"scanPrefs\" must be an object");
        page.scanPreferences = {optionalNumber(*prefs, "jpegQuality"),
                                optionalFlag(*prefs, "blackAndWhite"),
                                optionalNumber(*prefs, "longestSideSizePx")};
    }
    if (const auto actions = object.find("actions"); actions != object.end()) {
        if (!actions->is_array()) fail("\"actions\" must be a list");
        for (const json& action : *actions) page.actions.push_back(readAction(action));
        for (std::size_t i = 0; i < page.actions.size(); ++i)
            for (std::size_t j = 0; j < i; ++j)
                if (page.actions[i].id == page.actions[j].id)
                    fail("two actions have the id \"" + page.actions[i].id + "\"");
    }
    const std::string image = requiredText(object, "image");
    const std::string bytes = readFile(folder / image);
    page.image.assign(bytes.begin(), bytes.end());
    if (cv::imdecode(page.image, cv::IMREAD_GRAYSCALE).empty())
        fail("\"" + image + "\" is not an image OpenCV can read");
    return page;
}

ImportSummary importFolder(CatalogueStore& store, const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".json") files.push_back(entry);
    std::sort(files.begin(), files.end());

    std::vector<Page> pages;
    std::vector<std::string> keys;
    for (const auto& file : files) {
        try {
            if (file.filename() == "catalogue.json") {
                const json catalogue = json::parse(readFile(file), nullptr, false);
                const auto found =
                    catalogue.is_object() ? catalogue.find("apiKeys") : catalogue.end();
                if (found == catalogue.end() || !found->is_array())
                    fail("\"apiKeys\" must be a list");
                for (const json& key : *found) {
                    if (!key.is_string() || key.get<std::string>().empty())
                        fail("API keys must be non-empty strings");
                    keys.push_back(key.get<std::string>());
                }
            } else {
                pages.push_back(readPageDescription(readFile(file), folder));
            }
        } catch (const std::exception& error) {
            throw std::runtime_error(file.string() + ": " + error.what());
        }
    }
    ImportSummary summary;
    for (const Page& page : pages) {
        store.putPage(page);
        summary.pageIds.push_back(page.id);
    }
    for (const std::string& key : keys) store.addApiKey(key);
    summary.apiKeys = keys.size();
    return summary;
}

} // namespace kestrel::devservice
