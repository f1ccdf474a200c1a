#include "multipart_form.hpp"

#include <algorithm>
#include <cctype>

namespace kestrel::devservice {
namespace {

std::string lower(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return result;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The value of parameter name (lower case) in a header value such as
// `form-data; name="file"; filename="image.jpg"`, unquoted.
std::optional<std::string> parameter(std::string_view value, std::string_view name) {
    constexpr auto npos = std::string_view::npos;
    std::size_t at = value.find(';');
    while (at != npos) {
        ++at;
        const std::size_t equals = value.find('=', at);
        if (equals == npos) return std::nullopt;
        const bool match = lower(trim(value.substr(at, equals - at))) == name;
        std::size_t cursor = equals + 1;
        while (cursor < value.size() && (value[cursor] == ' ' || value[cursor] == '\t')) ++cursor;
        std::string result;
        if (cursor < value.size() && value[cursor] == '"') {
            const std::size_t close = value.find('"', cursor + 1);
            if (close == npos) return std::nullopt;
            result = value.substr(cursor + 1, close - cursor - 1);
            cursor = close + 1;
        } else {
            const std::size_t end = std::min(value.find(';', cursor), value.size());
            result = trim(value.substr(cursor, end - cursor));
            cursor = end;
        }
        if (match) return result;
        at = value.find(';', cursor);
    }
    return std::nullopt;
}

} // namespace

std::variant<std::vector<FormPart>, std::string> parseMultipartForm(std::string_view contentType,
                                                                    std::string_view body) {
    if (lower(trim(contentType.substr(0, contentType.find(';')))) != "multipart/form-data")
        return std::string("the body must be multipart/form-data");
    const auto boundary = parameter(contentType, "boundary");
    if (!boundary || boundary->empty() || boundary->size() > 70)
        return std::string("the multipart content type has no usable boundary");
    const std::string delimiter = "--" + *boundary;

    // The first delimiter starts the body or a line after a preamble.
    std::size_t at = body.starts_with(delimiter) ? 0 : body.find("\r\n" + delimiter);
    if (at == std::string_view::npos) return std::string("the form has no part");
    if (at != 0) at += 2;
    std::vector<FormPart> parts;
    while (true) {
        at += delimiter.size();
        if (body.substr(at, 2) == "--") return parts; // the closing delimiter; the rest is ignored
        while (at < body.size() && (body[at] == ' ' || body[at] == '\t')) ++at;
        if (body.substr(at, 2) != "\r\n")
            return std::string("a form delimiter is not followed by CRLF");
        at += 2;
        const std::size_t headersEnd = body.find("\r\n\r\n", at);
        if (headersEnd == std::string_view::npos)
            return std::string("a form part has unterminated headers");
        FormPart part;
        bool formData = false;
        for (std::size_t line = at; line < headersEnd + 2;) {
            const std::size_t end = body.find("\r\n", line);
            const std::string_view header = body.substr(line, end - line);
            line = end + 2;
            const std::size_t colon = header.find(':');
            if (colon == std::string_view::npos)
                return std::string("a form part has a malformed header");
            const std::string name = lower(trim(header.substr(0, colon)));
            const std::string_view value = trim(header.substr(colon + 1));
            if (name == "content-disposition") {
                formData = lower(trim(value.substr(0, value.find(';')))) == "form-data";
                part.name = parameter(value, "name").value_or("");
                part.filename = parameter(value, "filename");
            } else if (name == "content-type") {
                part.contentType = value;
            }
        }
        if (!formData || part.name.empty())
            return std::string("a form part has no form-data disposition with a name");
        const std::size_t contentStart = headersEnd + 4;
        const std::size_t next = body.find("\r\n" + delimiter, contentStart);
        if (next == std::string_view::npos) return std::string("the form ends inside a part");
        part.content = body.substr(contentStart, next - contentStart);
        parts.push_back(std::move(part));
        at = next + 2;
    }
}

} // namespace kestrel::devservice
