// Finding a header by name, without regard to ASCII case.
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

} // namespace kestrel::platform::detail
