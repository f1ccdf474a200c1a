// The pages the service recognises, in memory: their records and the recogniser built from their
// features when the service starts.
#pragma once

#include "catalogue_store.hpp"
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
    // Reads every page of the store with the features kept for it; a page without features
    // taken the way settings take them has them taken from its image and kept in the store for
    // the next start (the images are not held). A page whose image does not decode is left out
    // and reported on standard error. The pages' looks are read from the store when a photo
    // first needs them: the store must outlive the catalogue.
    explicit Catalogue(CatalogueStore& store, RecogniserSettings settings = {});

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
