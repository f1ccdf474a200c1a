#include "styles/style_values.hpp"
#include "json/lenient.hpp"

#include <kestrel/styles/font_style.hpp>
#include <kestrel/styles/font_weight.hpp>
#include <kestrel/styles/horizontal_position.hpp>
#include <kestrel/styles/image_size.hpp>
#include <kestrel/styles/qr_code_type.hpp>
#include <kestrel/styles/vertical_position.hpp>

#include <string>

namespace kestrel {

QrCodeType decodeQrCodeType(const JsonValue& value) {
    const auto raw = json::asInt64(value);
    if (!raw)
        throw DecodingError(
            std::string("QrCodeType: expected an integer, found ") +
            (value.is_number() ? "a number out of range or with a fraction" : value.type_name()));
    const auto type = fromRawValue<QrCodeType>(*raw);
    if (!type) throw DecodingError("QrCodeType: not a raw value: " + std::to_string(*raw));
    return *type;
}

ImageSize decodeImageSize(const JsonValue& value) {
    return styles::decodeTextRawValue<ImageSize>(value, "ImageSize");
}

HorizontalPosition decodeHorizontalPosition(const JsonValue& value) {
    return styles::decodeTextRawValue<HorizontalPosition>(value, "HorizontalPosition");
}

VerticalPosition decodeVerticalPosition(const JsonValue& value) {
    return styles::decodeTextRawValue<VerticalPosition>(value, "VerticalPosition");
}

FontWeight decodeFontWeight(const JsonValue& value) {
    return styles::decodeTextRawValue<FontWeight>(value, "FontWeight");
}

FontStyle decodeFontStyle(const JsonValue& value) {
    return styles::decodeTextRawValue<FontStyle>(value, "FontStyle");
}

} // namespace kestrel
