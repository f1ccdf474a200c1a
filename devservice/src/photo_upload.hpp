// The photo of a recognition request: the "file" part of a multipart form, checked to be a JPEG
// of acceptable size before it is decoded.
#pragma once

#include "decode_budget.hpp"

#include <opencv2/core.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

namespace kestrel::devservice {

struct UploadLimits {
    std::size_t maxBytes = 10u << 20;   // of the JPEG file
    std::size_t maxPixels = 40'000'000; // width x height the JPEG declares
    // Photos are decoded at 1/2, 1/4 or 1/8 scale while their longer side stays at least this
    // long: recognition looks at no more than 900 px.
    int decodedLongSide = 1000;
};

struct Refusal {
    int status;         // a 4xx status
    std::string reason; // one line, without its newline
};

// The photo of a recognition request's body, decoded to grey at a reduced scale within the
// budget's memory, or why the request is refused.
std::variant<cv::Mat, Refusal> readPhoto(std::string_view contentType, std::string_view body,
                                         const UploadLimits& limits, DecodeBudget& budget);

struct JpegFrame {
    cv::Size size;            // {0, 0} when unknown
    int components = 0;       // 1 grey, 3 colour
    bool progressive = false; // decoded whole-image at once, whatever the output scale
};

// The frame header of a JPEG, read without decoding it; a zero size when bytes are not a JPEG or
// end before the frame header.
JpegFrame jpegFrame(std::string_view bytes);

} // namespace kestrel::devservice
