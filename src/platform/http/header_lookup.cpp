#include "platform/http/header_lookup.hpp"

#include <algorithm>

namespace kestrel::platform::detail {

namespace {
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
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

} // namespace kestrel::platform::detail
