#include "session_ids.hpp"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace kestrel::devservice {

std::string unguessableId() {
    std::array<std::uint8_t, 16> bytes{};
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got > 0)
            filled += std::size_t(got);
        else if (errno != EINTR)
            throw std::runtime_error("the kernel's random source is unavailable");
    }
    bytes[6] = std::uint8_t((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = std::uint8_t((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

} // namespace kestrel::devservice
