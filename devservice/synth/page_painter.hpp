// Draws printed pages: a masthead, columns of small print, photographs and shapes, all chosen by
// a pattern number, so that the sample catalogue, the tests and the benchmark have pages to
// photograph.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>

namespace kestrel::devservice::synth {

struct PageLook {
    cv::Size size{420, 594};
    std::string masthead; // drawn across the top; a headline of the pattern when empty
};

// The same pattern number and look always give the same page (with the same OpenCV build).
cv::Mat paintPage(std::uint64_t pattern, const PageLook& look = {});

} // namespace kestrel::devservice::synth
