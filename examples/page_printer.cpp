#include "page_printer.hpp"

#include <kestrel/raw_value.hpp>

#include <cstdio>
#include <sstream>

namespace scan {

using kestrel::JsonValue;

namespace {

template <typename T>
JsonValue orNull(const std::optional<T>& value) {
    return value ? JsonValue(*value) : JsonValue();
}

// Single-precision values (opacities, qualities) shown as the decimals they were written as.
JsonValue orNull(const std::optional<float>& value) {
    return value ? JsonValue(std::stod(std::to_string(*value))) : JsonValue();
}

template <typename Enum>
JsonValue rawOrNull(const std::optional<Enum>& value) {
    return value ? JsonValue(std::string(kestrel::rawValue(*value))) : JsonValue();
}

// Adds the member only when the value is present.
void put(JsonValue& object, const char* key, JsonValue value) {
    if (!value.is_null()) object[key] = std::move(value);
}

// The parts of a style that a host draws most: the button's and the text's colours and sizes.
JsonValue styleJson(const std::optional<kestrel::Style>& style) {
    if (!style) return JsonValue();
    JsonValue out = JsonValue::object();
    if (const auto& button = style->button) {
        JsonValue b = JsonValue::object();
        put(b, "backgroundColor", orNull(button->backgroundColor));
        put(b, "opacity", orNull(button->opacity));
        put(b, "radius", orNull(button->radius));
        put(b, "display", orNull(button->display));
        out["button"] = b;
    }
    if (const auto& text = style->text) {
        JsonValue t = JsonValue::object();
        put(t, "color", orNull(text->color));
        put(t, "fontSize", orNull(text->fontSize));
        put(t, "fontWeight", rawOrNull(text->fontWeight));
        put(t, "display", orNull(text->display));
        out["text"] = t;
    }
    if (style->icon) put(out, "icon", JsonValue{{"size", orNull(style->icon->size)}});
    return out;
}

std::string text(const JsonValue& value) {
    return value.is_null() ? "-" : value.is_string() ? value.get<std::string>() : jsonText(value);
}

} // namespace

std::string jsonText(const JsonValue& value, int indent) {
    return value.dump(indent, ' ', false, JsonValue::error_handler_t::replace);
}

JsonValue toJson(const kestrel::Action& action) {
    return {{"id", orNull(action.id)},
            {"name", orNull(action.name)},
            {"type", rawOrNull(action.type)},
            {"priority", orNull(action.priority)},
            {"order", orNull(action.order)},
            {"icon", orNull(action.icon)},
            {"content", action.content ? orNull(action.content->dictionary) : JsonValue()},
            {"style", styleJson(action.style)},
            {"fromScannedCode", action.isQrCode}};
}

JsonValue toJson(const kestrel::Image& page) {
    JsonValue actions = JsonValue::array();
    for (const auto& action : page.actions.value_or(std::vector<kestrel::Action>{}))
        actions.push_back(toJson(action));
    JsonValue prefs;
    if (page.scanPrefs)
        prefs = {{"blackAndWhite", orNull(page.scanPrefs->blackAndWhite)},
                 {"jpegQuality", orNull(page.scanPrefs->jpegQuality)},
                 {"longestSideSizePx", orNull(page.scanPrefs->longestSideSizePx)}};
    return {{"id", orNull(page.id)},
            {"title", orNull(page.title)},
            {"sessionId", orNull(page.sessionId)},
            {"documentId", orNull(page.documentId)},
            {"language", orNull(page.languageCode)},
            {"titleStyle", styleJson(page.titleStyle)},
            {"scanPrefs", prefs},
            {"actions", actions}};
}

JsonValue toJson(const std::vector<kestrel::Picture>& pictures) {
    JsonValue out = JsonValue::array();
    for (const auto& picture : pictures)
        out.push_back({{"id", orNull(picture.id)},
                       {"name", orNull(picture.name)},
                       {"score", orNull(picture.recognitionScore)},
                       {"thumbnail", orNull(picture.bigThumbnailUrl)}});
    return out;
}

std::string describe(const kestrel::Action& action) {
    const JsonValue json = toJson(action);
    std::ostringstream out;
    out << "  - " << text(json["name"]) << " [" << text(json["type"]) << "]"
        << (action.isQrCode ? " (from a scanned code)" : "") << "\n"
        << "    payload: " << text(json["content"]) << "\n"
        << "    style:   " << text(json["style"]) << "\n";
    return out.str();
}

std::string describe(const kestrel::Image& page) {
    const JsonValue json = toJson(page);
    std::ostringstream out;
    out << "Recognised page: " << text(json["title"]) << " (id " << text(json["id"]) << ")\n"
        << "  session:          " << text(json["sessionId"]) << "\n"
        << "  document:         " << text(json["documentId"]) << "\n"
        << "  scan preferences: " << text(json["scanPrefs"]) << "\n"
        << "Actions (" << json["actions"].size() << "):\n";
    for (const auto& action : page.actions.value_or(std::vector<kestrel::Action>{}))
        out << describe(action);
    return out.str();
}

std::string describe(const std::vector<kestrel::Picture>& pictures) {
    std::ostringstream out;
    out << "Matches (" << pictures.size() << "), best first:\n";
    int rank = 1;
    for (const auto& picture : pictures) {
        char score[32];
        std::snprintf(score, sizeof score, "%.3f", picture.recognitionScore.value_or(0.0));
        out << "  " << rank++ << ". " << picture.name.value_or(picture.id.value_or("-"))
            << "  score " << score << "\n";
    }
    return out.str();
}

} // namespace scan
