// The fixed look of actions built from scanned codes: a black button at opacity 0.6 and a white
// label at full opacity on a transparent background.
#include <kestrel/styles/style.hpp>

namespace kestrel {

Button Button::forQrCodeType(QrCodeType type) {
    Button button;
    if (type == QrCodeType::url) {
        button.backgroundColor = "#000000";
        button.opacity = 0.6f;
    }
    return button;
}

Text Text::forQrCodeType(QrCodeType type) {
    Text text;
    if (type == QrCodeType::url) {
        text.color = "#FFFFFF";
        text.opacity = 1.0f;
        // rgbaColor stays absent: it is derived from the character colour of a parsed style only.
        text.backgroundColor = "rgba(0, 0, 0, 0)";
    }
    return text;
}

Style Style::forQrCodeType(QrCodeType type) {
    Style style;
    style.button = Button::forQrCodeType(type);
    style.text = Text::forQrCodeType(type);
    style.qrCodeType = type;
    return style;
}

} // namespace kestrel
