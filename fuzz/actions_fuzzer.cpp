// Feeds arbitrary bytes through the path of an enriched image's "Actions": the bytes as a
// document whose "Actions" list (or the document itself, when a list) is decoded element by
// element, and the bytes as the serialized "Style" and "Content" texts of one action. Besides
// sanitizer findings, it stops on a decoded action that breaks the record's invariants.
#include "json/lenient.hpp"

#include <kestrel/model.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using kestrel::Action;
using kestrel::JsonValue;
using kestrel::Style;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkDecoded(const Action& action) {
    check(!action.isQrCode);
    // A content exists only with a type, and carries that type and an object.
    if (action.content) {
        check(action.type.has_value() && action.content->type == action.type);
        check(action.content->dictionary && action.content->dictionary->is_object());
    }
    if (action.style) check(!action.style->qrCodeType);
}

void decodeElement(const JsonValue& element) {
    try {
        const Action action = Action::decode(element);
        checkDecoded(action);
        check(Action::decode(element) == action);
    } catch (const kestrel::DecodingError&) {
        check(!element.is_object());
    }
    const Style style = Style::fromDictionary(element);
    check(!style.qrCodeType);
    check(Style::fromDictionary(element) == style);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The decoders print a diagnostic line for every broken "Style" or "Content" text; libFuzzer
    // reports on standard error, so standard output can go.
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    if (const auto document = kestrel::json::parseDocument(bytes)) {
        const JsonValue* actions =
            document->is_array() ? &*document : kestrel::json::member(*document, "Actions");
        if (actions && actions->is_array())
            for (const JsonValue& element : *actions) decodeElement(element);
        decodeElement(*document);
    }

    const std::string text(bytes);
    for (const char* type : {"URL", "url"}) {
        const JsonValue action{{"Type", type}, {"Style", text}, {"Content", text}};
        const Action decoded = Action::decode(action);
        checkDecoded(decoded);
        if (decoded.content)
            check(decoded.content->dictionary == kestrel::json::parseSerialized(text));
    }
    return 0;
}
