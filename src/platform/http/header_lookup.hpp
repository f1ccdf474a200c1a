// Reading a reply's header lines, and finding a header by name without regard to ASCII case.
#pragma once

#include <kestrel/platform/http_request.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform::detail {

bool equalsIgnoringCase(std::string_view a, std::string_view b);

std::optional<std::string> firstHeaderValue(const std::vector<HttpHeader>& headers,
                                            std::string_view name);

// Adds one received header line (with or without its CR LF) to headers: "Name: value" with both
// trimmed; a folded continuation line (starting with a space or tab) joins the last value; a
// status line starts afresh, since what came before belonged to an interim (1xx) reply; anything
// else is ignored.
void addHeaderLine(std::vector<HttpHeader>& headers, std::string_view line);

} // namespace kestrel::platform::detail
