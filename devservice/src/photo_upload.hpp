// The photo of a recognition request: the "file" part of a multipart form, checked to be a JPEG
// of acceptable size before it is decoded.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

namespace kestrel::devservice {

struct UploadLimits {
    std::size_t maxBytes = 10u << 20;   // of the JPEG file
    std::size_t maxPixels = 40'000'000; // width x height the JPEG declares
};

struct Refusal {
    int status;         // a 4xx status
    std::string reason; // one line, without its newline
};

// The photo of a recognition request's body, decoded to grey, or why the request is refused.
std::variant<cv::Mat, Refusal> readPhoto(std::string_view contentType, std::string_view body,
                                         const UploadLimits& limits);

// Width and height from a JPEG's frame header, without decoding it; {0, 0} when bytes are not a
// JPEG or end before the frame header.
cv::Size jpegDimensions(std::string_view bytes);

} // namespace kestrel::devservice
