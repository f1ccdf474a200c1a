#include "photo_upload.hpp"

#include "multipart_form.hpp"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>

namespace kestrel::devservice {
namespace {

// What decoding frame at 1/scale may take at most: the grey output, and for a progressive JPEG
// the coefficients of the whole image (two bytes a sample, every component at full resolution).
std::size_t decodeMemory(const JpegFrame& frame, int scale) {
    const std::size_t pixels = std::size_t(frame.size.width) * std::size_t(frame.size.height);
    const std::size_t output = pixels / std::size_t(scale * scale);
    const std::size_t rows = std::size_t(frame.size.width) * 16 * 4; // row buffers
    return output + rows +
           (frame.progressive ? pixels * std::size_t(std::max(frame.components, 1)) * 2 : 0);
}

} // namespace

JpegFrame jpegFrame(std::string_view bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return {};
    std::size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (byte(at) != 0xFF) return {};
        const unsigned marker = byte(at + 1);
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2; // markers without a length
            continue;
        }
        const std::size_t length = std::size_t(byte(at + 2)) << 8 | byte(at + 3);
        if (length < 2) return {};
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (at + 10 > bytes.size()) return {};
            const int height = int(byte(at + 5)) << 8 | byte(at + 6);
            const int width = int(byte(at + 7)) << 8 | byte(at + 8);
            const bool progressive =
                marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            return {{width, height}, int(byte(at + 9)), progressive};
        }
        if (marker == 0xDA || marker == 0xD9) return {}; // scan data before any frame header
        at += 2 + length;
    }
    return {};
}

std::variant<cv::Mat, Refusal> readPhoto(std::string_view contentType, std::string_view body,
                                         const UploadLimits& limits, DecodeBudget& budget) {
    auto form = parseMultipartForm(contentType, body);
    if (auto* reason = std::get_if<std::string>(&form)) return Refusal{400, *reason};
    const auto& parts = std::get<std::vector<FormPart>>(form);
    const auto file = std::find_if(parts.begin(), parts.end(),
                                   [](const FormPart& part) { return part.name == "file"; });
    if (file == parts.end()) return Refusal{400, "the form has no \"file\" part"};
    const std::string_view bytes = file->content;
    if (bytes.size() > limits.maxBytes)
        return Refusal{413, "the photo is over " + std::to_string(limits.maxBytes) + " bytes"};
    if (bytes.size() < 3 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xD8 ||
        static_cast<unsigned char>(bytes[2]) != 0xFF)
        return Refusal{415, "the \"file\" part is not a JPEG image"};
    const JpegFrame frame = jpegFrame(bytes);
    const cv::Size size = frame.size;
    if (size.width <= 0 || size.height <= 0)
        return Refusal{400, "the JPEG image has no readable frame header"};
    if (std::size_t(size.width) * std::size_t(size.height) > limits.maxPixels)
        return Refusal{413, "the photo is over " + std::to_string(limits.maxPixels) + " pixels"};
    int scale = 1;
    while (scale < 8 && std::max(size.width, size.height) / (scale * 2) >= limits.decodedLongSide)
        scale *= 2;
    const auto lease = budget.reserve(decodeMemory(frame, scale));
    const cv::Mat photo =
        cv::imdecode(cv::Mat(1, int(bytes.size()), CV_8U, const_cast<char*>(bytes.data())),
                     scale == 1   ? cv::IMREAD_GRAYSCALE
                     : scale == 2 ? cv::IMREAD_REDUCED_GRAYSCALE_2
                     : scale == 4 ? cv::IMREAD_REDUCED_GRAYSCALE_4
                                  : cv::IMREAD_REDUCED_GRAYSCALE_8);
    if (photo.empty()) return Refusal{400, "the JPEG image could not be decoded"};
    return photo;
}

} // namespace kestrel::devservice
