// A catalogue page as the service keeps it: what it answers for a recognised photo of the page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::devservice {

struct PageAction {
    std::string id;
    std::string name;
    std::string kind; // "URL", "PHONE", "VCARD", ...
    std::optional<std::int64_t> priority;
    std::optional<std::int64_t> order;
    std::optional<std::string> icon;
    std::optional<std::string> backgroundImage;
    std::optional<std::string> style;   // the style dictionary as JSON text
    std::optional<std::string> content; // the payload dictionary as JSON text
};

// How the service wants the client to prepare its next photos.
struct ScanPreferences {
    std::optional<double> jpegQuality;
    std::optional<bool> blackAndWhite;
    std::optional<double> longestSideSizePx;
};

struct Page {
    std::string id;
    std::optional<std::string> documentId;
    std::optional<std::string> organizationId;
    std::optional<std::string> title;
    std::optional<std::string> titleStyle; // JSON text
    std::optional<std::string> language;
    std::optional<std::string> thumbnailUrl;
    std::optional<std::string> data;
    std::optional<std::int64_t> order;
    std::optional<bool> autoTrigger;
    ScanPreferences scanPreferences;
    std::vector<PageAction> actions;  // in the order they are offered
    std::vector<unsigned char> image; // the page's picture as imported (JPEG or PNG bytes)
};

} // namespace kestrel::devservice
