#include "platform/http/header_lookup.hpp"

#include <algorithm>

namespace kestrel::platform::detail {

namespace {
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The text of a header name or value without surrounding space and line ends. A CR or NUL inside
// it, which no valid field holds, becomes a space, so that a host that writes the value out again
// cannot be made to end a line there.
std::string trim(std::string_view text) {
    std::string field(text);
    std::replace_if(
        field.begin(), field.end(), [](char c) { return c == '\r' || c == '\0'; }, ' ');
    const auto begin = field.find_first_not_of(" \t\n");
    if (begin == std::string::npos) return {};
    const auto end = field.find_last_not_of(" \t\n");
    return field.substr(begin, end - begin + 1);
}
} // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

std::optional<std::string> firstHeaderValue(const std::vector<HttpHeader>& headers,
                                            std::string_view name) {
    for (const auto& header : headers)
        if (equalsIgnoringCase(header.name, name)) return header.value;
    return std::nullopt;
}

void addHeaderLine(std::vector<HttpHeader>& headers, std::string_view line) {
    if (line.rfind("HTTP/", 0) == 0) {
        headers.clear();
    } else if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        if (!headers.empty()) {
            auto& value = headers.back().value;
            const std::string more = trim(line);
            if (!more.empty()) value += (value.empty() ? "" : " ") + more;
        }
    } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
        headers.push_back(HttpHeader{trim(line.substr(0, colon)), trim(line.substr(colon + 1))});
    }
}

} // namespace kestrel::platform::detail
