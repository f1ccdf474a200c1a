#include "catalogue.hpp"

#include <opencv2/imgcodecs.hpp>

#include <iostream>

namespace kestrel::devservice {

Catalogue::Catalogue(std::vector<Page> pages, RecogniserSettings settings) : recogniser_(settings) {
    for (Page& page : pages) {
        const cv::Mat image = cv::imdecode(page.image, cv::IMREAD_GRAYSCALE);
        if (image.empty()) {
            std::cerr << "page " << page.id << ": its image does not decode; left out\n";
            continue;
        }
        recogniser_.addPage(image);
        page.image.clear();
        page.image.shrink_to_fit();
        pages_.push_back(std::move(page));
    }
    recogniser_.build();
}

std::vector<PageMatch> Catalogue::find(const cv::Mat& photo, std::size_t maxResults,
                                       bool guesses) const {
    std::vector<PageMatch> matches;
    for (const Recognition& found : recogniser_.recognise(photo, maxResults, guesses))
        matches.push_back({&pages_[found.page], found.score, found.verified});
    return matches;
}

} // namespace kestrel::devservice
