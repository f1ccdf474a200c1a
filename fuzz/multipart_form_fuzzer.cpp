// Feeds arbitrary bytes through the local service's multipart form reader: the first line is the
// request's content type, the rest its body. Besides sanitizer findings, it stops on a form read
// whose parts break what a route relies on.
#include "multipart_form.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = bytes.find('\n');
    const std::string_view type = bytes.substr(0, newline);
    const std::string_view body =
        newline == std::string_view::npos ? std::string_view() : bytes.substr(newline + 1);

    const auto form = kestrel::devservice::parseMultipartForm(type, body);
    if (const auto* reason = std::get_if<std::string>(&form)) {
        check(!reason->empty() && reason->find('\n') == std::string::npos);
        return 0;
    }
    for (const auto& part : std::get<std::vector<kestrel::devservice::FormPart>>(form)) {
        check(!part.name.empty());
        // A part's content is a view into the body, never past its end.
        check(part.content.data() >= body.data() &&
              part.content.data() + part.content.size() <= body.data() + body.size());
    }
    return 0;
}
