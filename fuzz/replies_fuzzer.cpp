// Feeds arbitrary bytes to the two reply decoders, as the body of an enriched-image reply and of a
// picture-search reply. Besides sanitizer findings, it stops when a decoder throws anything but
// its own error or keeps more elements than it promises.
#include <kestrel/model.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {
void check(bool condition) {
    if (!condition) std::abort();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Decoding failures print a diagnostic line; libFuzzer reports on standard error.
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    try {
        const auto image = kestrel::Image::decodeReply(body);
        check(!image.actions || image.actions->size() <= kestrel::Image::maxActions);
    } catch (const kestrel::DecodingError&) {}
    try {
        const auto pictures = kestrel::Picture::decodeReply(body);
        check(pictures.size() <= kestrel::Picture::maxPictures);
    } catch (const kestrel::DecodingError&) {}
    return 0;
}
