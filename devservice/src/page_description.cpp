#include "page_description.hpp"

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <array>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace kestrel::devservice {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxNesting = 64;
constexpr std::uintmax_t kMaxImageBytes = 32u << 20;
constexpr std::uintmax_t kMaxDescriptionBytes = 1u << 20;

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

// The bytes of the file at name (relative to folder), which must stay inside folder once every
// link is resolved and be a regular file of at most limit bytes.
std::string readConfined(const std::filesystem::path& folder, const std::string& name,
                         std::uintmax_t limit) {
    namespace fs = std::filesystem;
    const fs::path relative(name);
    if (relative.empty() || relative.is_absolute())
        fail("\"" + name + "\" must be a path relative to the catalogue folder");
    std::error_code error;
    const fs::path base = fs::canonical(folder, error);
    if (error) fail("cannot read the folder " + folder.string());
    const fs::path target = fs::weakly_canonical(base / relative, error);
    if (error) fail("cannot read \"" + name + "\"");
    const auto [inBase, inTarget] =
        std::mismatch(base.begin(), base.end(), target.begin(), target.end());
    if (inBase != base.end() || inTarget == target.end())
        fail("\"" + name + "\" leads outside the catalogue folder");
    const fs::file_status status = fs::status(target, error);
    if (error || !fs::exists(status)) fail("cannot read \"" + name + "\"");
    if (!fs::is_regular_file(status)) fail("\"" + name + "\" is not a regular file");
    const std::uintmax_t size = fs::file_size(target, error);
    if (error || size > limit) fail("\"" + name + "\" is over " + std::to_string(limit) + " bytes");
    std::ifstream in(target, std::ios::binary);
    if (!in) fail("cannot read \"" + name + "\"");
    std::string bytes(std::size_t(size) + 1, '\0'); // one more: a file that grew is refused
    in.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(std::size_t(in.gcount()));
    if (bytes.size() > size) fail("\"" + name + "\" changed while it was read");
    return bytes;
}

// Refuses text whose arrays and objects nest deeper than kMaxNesting, before it is parsed: the
// parsed value is written out again recursively.
void checkNesting(std::string_view text) {
    std::size_t depth = 0;
    bool inString = false, escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxNesting)
                fail("lists and objects nest deeper than " + std::to_string(kMaxNesting));
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
}

json parseDescription(const std::string& text) {
    checkNesting(text);
    return json::parse(text, nullptr, false);
}

// Error texts hold names from the folder and its descriptions: kept to one line.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

} // namespace

Page readPageDescription(const std::string& text, const std::filesystem::path& folder) {
    const json object = parseDescription(text);
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
    const std::string bytes = readConfined(folder, image, kMaxImageBytes);
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
                const json catalogue = parseDescription(
                    readConfined(folder, file.filename().string(), kMaxDescriptionBytes));
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
                pages.push_back(readPageDescription(
                    readConfined(folder, file.filename().string(), kMaxDescriptionBytes), folder));
            }
        } catch (const std::exception& error) {
            throw std::runtime_error(oneLine(file.string() + ": " + error.what()));
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
