#include <kestrel/config/bundle_identifier.hpp>
#include <kestrel/service/kestrel_extensions.hpp>

#include "support/diagnostics.hpp"
#include "support/utf8.hpp"

namespace kestrel {

std::shared_ptr<const platform::Bundle> kestrelBundle() {
    return platform::Bundle::withIdentifier(kestrelBundleIdentifier);
}

std::string tr(std::string_view key) {
    const auto bundle = kestrelBundle();
    if (!bundle) return std::string(key);
    return bundle->localizedString(key);
}

void appendString(std::vector<std::uint8_t>& buffer, std::string_view text) {
    buffer.insert(buffer.end(), text.begin(), text.end());
}

void printToString(std::span<const std::uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!support::isValidUtf8(text)) return;
    std::string line = "data string : ";
    line.append(text);
    support::printLine(line);
}

} // namespace kestrel
