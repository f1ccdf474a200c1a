#include "support/utf8.hpp"

#include <algorithm>
#include <cstdint>

namespace kestrel::support {

bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto b0 = static_cast<std::uint8_t>(bytes[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint8_t low = 0x80, high = 0xBF; // allowed range of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3;
            if (b0 == 0xE0) low = 0xA0;  // no overlong three-byte forms
            if (b0 == 0xED) high = 0x9F; // no surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4;
            if (b0 == 0xF0) low = 0x90;  // no overlong four-byte forms
            if (b0 == 0xF4) high = 0x8F; // nothing beyond U+10FFFF
        } else {
            return false;
        }
        if (n - i < length) return false;
        const auto b1 = static_cast<std::uint8_t>(bytes[i + 1]);
        if (b1 < low || b1 > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            const auto b = static_cast<std::uint8_t>(bytes[i + k]);
            if (b < 0x80 || b > 0xBF) return false;
        }
        i += length;
    }
    return true;
}

bool appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    return true;
}

} // namespace kestrel::support

namespace kestrel::support {

std::string withReplacementCharacters(std::string_view bytes) {
    if (isValidUtf8(bytes)) return std::string(bytes);
    constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size() + 16);
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        // The length of the sequence and the range of its second byte, which rules out overlong
        // forms, surrogates and values beyond U+10FFFF.
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        std::size_t next = i + 1;
        bool complete = length > 0;
        for (std::size_t k = 1; complete && k < length; ++k, ++next) {
            const auto byte = next < bytes.size() ? static_cast<unsigned char>(bytes[next]) : 0;
            complete = next < bytes.size() && byte >= (k == 1 ? low : 0x80) &&
                       byte <= (k == 1 ? high : 0xBF);
            if (!complete) break;
        }
        if (complete) {
            out.append(bytes.substr(i, length));
        } else {
            // One replacement for the lead byte and the continuation bytes that fitted it.
            out.append(replacement);
        }
        i = complete ? i + length : std::max(next, i + 1);
    }
    return out;
}

} // namespace kestrel::support
