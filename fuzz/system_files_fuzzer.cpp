// Feeds arbitrary bytes, as an os-release or machine-info file, to the shell-assignment reader and
// the one-line clean-up the device descriptors apply. Besides sanitizer findings, it stops on a
// cleaned value that still holds a control character or surrounding space.
#include "platform/device/system_files.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace kestrel::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    for (const char* key : {"NAME", "VERSION_ID", "PRETTY_HOSTNAME"}) {
        const auto value = shellAssignment(content, key);
        const std::string line = cleanLine(value ? *value : content);
        for (const char c : line)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
        if (!line.empty() && (line.front() == ' ' || line.back() == ' ')) std::abort();
    }
    return 0;
}
