#include "catalogue.hpp"

#include <opencv2/imgcodecs.hpp>

#include <functional>
#include <iostream>
#include <map>

namespace kestrel::devservice {

Catalogue::Catalogue(CatalogueStore& store, RecogniserSettings settings) : recogniser_(settings) {
    std::vector<Page> pages = store.pagesWithoutImages();
    std::map<std::string, std::size_t, std::less<>> byId;
    for (std::size_t i = 0; i < pages.size(); ++i) byId.emplace(pages[i].id, i);
    const std::string fingerprint = recogniser_.featureFingerprint();
    std::vector<std::string> unreadable;
    std::vector<std::string> stale =
        store.pageFeatures(fingerprint, [&](const std::string& id, const auto& record) {
            const auto page = byId.find(id);
            if (page == byId.end()) return; // imported since the pages were read
            if (!recogniser_.addPageRecord(record)) return unreadable.push_back(id);
            pages_.push_back(std::move(pages[page->second]));
        });
    stale.insert(stale.end(), unreadable.begin(), unreadable.end());

    // The others' features come from their images, and are kept a few hundred at a time.
    std::vector<CatalogueStore::FeatureRecords> taken;
    const auto keep = [&] {
        store.putPageFeatures(taken, fingerprint);
        taken.clear();
    };
    for (const std::string& id : stale) {
        const auto page = byId.find(id);
        if (page == byId.end()) continue;
        const cv::Mat image = cv::imdecode(store.pageImage(id), cv::IMREAD_GRAYSCALE);
        if (image.empty()) {
            std::cerr << "page " << id << ": its image does not decode; left out\n";
            continue;
        }
        const std::size_t index = recogniser_.addPage(image);
        taken.push_back({id, recogniser_.pageRecord(index), recogniser_.lookRecord(index)});
        pages_.push_back(std::move(pages[page->second]));
        if (taken.size() == 256) keep();
    }
    if (!taken.empty()) keep();
    // Looks are read when a photo first needs them; one whose record has gone (the page was
    // imported again since the start) is taken from the image in the file.
    recogniser_.setLookSource([this, &store, fingerprint, settings](std::size_t index) {
        const std::string& id = pages_[index].id;
        auto look = store.pageLook(id, fingerprint);
        if (!look.empty()) return look;
        const cv::Mat image = cv::imdecode(store.pageImage(id), cv::IMREAD_GRAYSCALE);
        if (image.empty()) return look;
        Recogniser single(settings);
        return single.lookRecord(single.addPage(image));
    });
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
