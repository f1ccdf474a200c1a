#include "service/header_values.hpp"

namespace kestrel::service {

namespace {

bool breaksHeaderLine(char c) { return c == '\r' || c == '\n' || c == '\0'; }

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

bool isSafeHeaderValue(std::string_view value) {
    for (const char c : value) {
        if (breaksHeaderLine(c)) {
            return false;
        }
    }
    return true;
}

std::string withoutLineBreaks(std::string_view value) {
    std::string result;
    result.reserve(value.size());
    for (const char c : value) {
        if (!breaksHeaderLine(c)) {
            result.push_back(c);
        }
    }
    return result;
}

std::string percentEncoded(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            result.push_back(ch);
        } else {
            result += {'%', hex[c >> 4], hex[c & 0x0F]};
        }
    }
    return result;
}

} // namespace kestrel::service
