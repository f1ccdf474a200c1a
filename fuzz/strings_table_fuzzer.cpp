// Feeds arbitrary bytes to the strings-table parser. Besides sanitizer findings, it stops when a
// table it accepts holds text that is not UTF-8.
#include "platform/bundle/strings_table.hpp"
#include "support/utf8.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto table = kestrel::platform::parseStringsTable(
        std::string_view(reinterpret_cast<const char*>(data), size));
    if (!table) return 0;
    for (const auto& [key, text] : *table)
        if (!kestrel::support::isValidUtf8(key) || !kestrel::support::isValidUtf8(text))
            std::abort();
    return 0;
}
