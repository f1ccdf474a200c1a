// Feeds arbitrary bytes to the POSIX locale name reader. Besides sanitizer findings, it stops on a
// language tag that holds anything but letters, digits and dashes, or that reads differently when
// read again.
#include <kestrel/platform/locale.hpp>

#include <cstdint>
#include <cstdlib>
#include <string_view>

using kestrel::platform::Locale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto tag =
        Locale::languageTag(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!tag) return 0;
    for (const char c : *tag)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-'))
            std::abort();
    if (Locale::languageTag(*tag) != tag) std::abort();
    return 0;
}
