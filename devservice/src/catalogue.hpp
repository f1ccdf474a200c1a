// The pages the service recognises, in memory: their records and the recogniser built from their
// images when the service starts.
#pragma once

#include "page.hpp"
#include "recogniser.hpp"

#include <opencv2/core.hpp>

#include <vector>

namespace kestrel::devservice {

struct PageMatch {
    const Page* page;
    double score;  // in [0, 1]
    bool verified; // false for a guess (see Recogniser::recognise)
};

class Catalogue {
public:
    // Takes the features of every page image (the images are not kept). A page whose image does
    // not decode is left out and reported on standard error.
    explicit Catalogue(std::vector<Page> pages, RecogniserSettings settings = {});

    // The pages the photo shows, best first, at most maxResults; with guesses, the unverified
    // candidates after them (see Recogniser::recognise). Thread-safe.
    std::vector<PageMatch> find(const cv::Mat& photo, std::size_t maxResults,
                                bool guesses = false) const;
    std::size_t size() const { return pages_.size(); }

private:
    std::vector<Page> pages_; // in the recogniser's order
    Recogniser recogniser_;
};

} // namespace kestrel::devservice
