// Feeds arbitrary bytes, cut into lines as libcurl hands them over, to the reading of a reply's
// header lines. Besides sanitizer findings, it stops on a header whose name or value keeps a line
// break, a NUL or surrounding space.
#include "platform/http/header_lookup.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

using kestrel::platform::HttpHeader;

namespace {
bool clean(const std::string& text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos &&
           (text.empty() || (text.front() != ' ' && text.front() != '\t' && text.back() != ' ' &&
                             text.back() != '\t'));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<HttpHeader> headers;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const auto line = rest.substr(0, end == std::string_view::npos ? rest.size() : end + 1);
        kestrel::platform::detail::addHeaderLine(headers, line);
        rest.remove_prefix(line.size());
    }
    for (const auto& header : headers)
        if (!clean(header.name) || !clean(header.value)) std::abort();
    (void)kestrel::platform::detail::firstHeaderValue(headers, "content-type");
    return 0;
}
