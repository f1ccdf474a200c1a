// Reading a multipart/form-data body. The closing delimiter may end the body without the CRLF
// that most senders add after it (the client library sends none), which cpp-httplib's own parser
// does not accept.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrel::devservice {

struct FormPart {
    std::string name;
    std::optional<std::string> filename;
    std::string contentType;  // empty when the part gives none
    std::string_view content; // a view into the body
};

// The parts of body in order, or a one-line reason why it is not a well-formed form.
std::variant<std::vector<FormPart>, std::string> parseMultipartForm(std::string_view contentType,
                                                                    std::string_view body);

} // namespace kestrel::devservice
