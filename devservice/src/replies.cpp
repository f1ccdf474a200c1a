#include "replies.hpp"

#include <nlohmann/json.hpp>

#include <charconv>

namespace kestrel::devservice {
namespace {

using nlohmann::json;

template <typename T>
void putIfPresent(json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

// The shortest text that reads back as the same number: 0.8, not 0.80000000000000004.
std::string decimalText(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

json actionJson(const PageAction& action) {
    json object{{"Id", action.id}, {"Name", action.name}, {"Type", action.kind}};
    putIfPresent(object, "Priority", action.priority);
    putIfPresent(object, "Order", action.order);
    putIfPresent(object, "Icon", action.icon);
    putIfPresent(object, "BackgroundImage", action.backgroundImage);
    putIfPresent(object, "Style", action.style);
    putIfPresent(object, "Content", action.content);
    return object;
}

} // namespace

std::string enrichedImageReply(const Page& page, const std::string& sessionId) {
    json reply{{"Id", page.id}, {"SessionId", sessionId}};
    putIfPresent(reply, "Order", page.order);
    putIfPresent(reply, "Title", page.title);
    putIfPresent(reply, "DocumentId", page.documentId);
    putIfPresent(reply, "TitleStyle", page.titleStyle);
    putIfPresent(reply, "AutoTrigger", page.autoTrigger);
    putIfPresent(reply, "LanguageCode", page.language);
    putIfPresent(reply, "BigThumbnailUrl", page.thumbnailUrl);
    putIfPresent(reply, "Data", page.data);
    json actions = json::array();
    for (const PageAction& action : page.actions) actions.push_back(actionJson(action));
    reply["Actions"] = std::move(actions);
    const ScanPreferences& prefs = page.scanPreferences;
    if (prefs.jpegQuality || prefs.blackAndWhite || prefs.longestSideSizePx) {
        json scan = json::object();
        if (prefs.jpegQuality) scan["JpegQuality"] = decimalText(*prefs.jpegQuality);
        putIfPresent(scan, "BlackAndWhite", prefs.blackAndWhite);
        putIfPresent(scan, "LongestSideSizePx", prefs.longestSideSizePx);
        reply["ScanPrefs"] = std::move(scan);
    }
    return reply.dump();
}

std::string pictureSearchReply(const std::vector<PictureCandidate>& candidates) {
    json list = json::array();
    for (const PictureCandidate& candidate : candidates) {
        const Page& page = *candidate.page;
        json picture{{"_objectId", page.id},
                     {"Id", page.id},
                     {"SessionId", candidate.sessionId},
                     {"RecognitionScore", candidate.score}};
        putIfPresent(picture, "Name", page.title);
        putIfPresent(picture, "Data", page.data);
        putIfPresent(picture, "OrganizationId", page.organizationId);
        putIfPresent(picture, "BigThumbnailUrl", page.thumbnailUrl);
        list.push_back(std::move(picture));
    }
    return list.dump();
}

std::string statsReply(const std::vector<PageStats>& stats) {
    json pages = json::array();
    std::int64_t sessions = 0, clicks = 0;
    for (const PageStats& page : stats) {
        json actions = json::array();
        for (const ActionClicks& action : page.actions) {
            actions.push_back(
                {{"Id", action.actionId}, {"Name", action.name}, {"Clicks", action.clicks}});
            clicks += action.clicks;
        }
        sessions += page.sessions;
        pages.push_back({{"Id", page.pageId},
                         {"Title", page.title},
                         {"Sessions", page.sessions},
                         {"Actions", std::move(actions)}});
    }
    return json{{"Sessions", sessions}, {"Clicks", clicks}, {"Pages", std::move(pages)}}.dump(2);
}

} // namespace kestrel::devservice
