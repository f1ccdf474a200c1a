// Finds which catalogue pages a photo shows: ORB features of the photo are looked up among the
// features of every page (an LSH index over all of them), the pages that collect the most
// distinctive matches are checked one by one with a homography fitted by RANSAC, and only a page
// whose matches agree on one plausible view of it counts.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::devservice {

class BinaryIndex;

struct RecogniserSettings {
    int pageFeatures = 500;   // kept per catalogue page
    int photoFeatures = 1000; // looked for in a photo
    int pageLongSide = 640;   // pages and photos are scaled to these before features are taken
    int photoLongSide = 900;  // larger: a page that fills a third of the photo still shows the
                              // detail of the page's coarser features
    int lshTables = 8, lshKeyBits = 20, lshProbeLevel = 0; // the index over every page's features
    float ratio = 0.8f;          // nearest / second-nearest distance must be below this
    std::size_t candidates = 4;  // pages checked geometrically per photo
    int minInliers = 12;         // matches that must agree on the homography
    double reprojection = 5.0;   // RANSAC threshold, in photo pixels
    double minSpread = 0.03;     // area the agreeing matches span, as a share of the page
    double minResemblance = 0.6; // correlation of the page with the photo seen through the fit,
                                 // both with the light evened out
};

struct Recognition {
    std::size_t page; // index in the order pages were added
    int inliers;
    double score;         // in [0, 1], growing with the number of agreeing matches
    bool verified = true; // false for a shortlisted page whose geometry did not agree
};

class Recogniser {
public:
    struct Features {
        std::vector<cv::Point2f> points;
        cv::Mat descriptors;
        cv::Size size;
        cv::Mat grey; // the scaled image the features were taken from
    };

    explicit Recogniser(RecogniserSettings settings = {});
    ~Recogniser();
    Recogniser(const Recogniser&) = delete;
    Recogniser& operator=(const Recogniser&) = delete;

    // Takes the features of a page image (colour or grey); returns its index. Before build().
    std::size_t addPage(const cv::Mat& image);
    // A page's features (those addPage took) as self-contained bytes, apart from its look (the
    // picture the photometric check compares, by far the largest part), and the look alone:
    // what the catalogue file keeps so that a start need not take them from the images again.
    std::vector<unsigned char> pageRecord(std::size_t page) const;
    std::vector<unsigned char> lookRecord(std::size_t page) const;
    // Adds a page from pageRecord()'s bytes and returns its index; nothing when they do not read
    // back as one. Its look is read from the look source when a photo first needs it, so that a
    // start reads only what the index needs. Before build().
    std::optional<std::size_t> addPageRecord(const std::vector<unsigned char>& record);
    // Gives lookRecord()'s bytes for a page added by addPageRecord (empty when there are none:
    // the page is then not verified). Called from recognise(), one call at a time.
    using LookSource = std::function<std::vector<unsigned char>(std::size_t page)>;
    void setLookSource(LookSource source) { lookSource_ = std::move(source); }
    // Changes with the settings and with the way addPage takes features: records kept under
    // another fingerprint are stale.
    std::string featureFingerprint() const;
    // Indexes the features of every page added; recognise() needs it.
    void build();
    std::size_t size() const { return pages_.size(); }

    // The verified pages the photo shows, best first, at most maxResults. With guesses, the
    // shortlisted pages that failed verification follow them, so that a host can offer them as
    // "did you mean": verified pages then score in [0.5, 1] (0.5 + half the verified score),
    // guesses in [0, 0.5) (half the share of the photo's features that match the page
    // distinctively). Thread-safe.
    std::vector<Recognition> recognise(const cv::Mat& photo, std::size_t maxResults,
                                       bool guesses = false) const;

private:
    struct PageFeatures {
        std::vector<cv::Point2f> points;
        cv::Mat descriptors;
        cv::Size size;
        cv::Mat look; // small grey copy for the photometric check
    };
    std::vector<std::size_t> shortlist(const cv::Mat& descriptors) const;
    std::optional<Recognition> verify(std::size_t page, const Features& photo) const;

    RecogniserSettings settings_;
    bool haveLook(std::size_t page) const;

    mutable std::vector<PageFeatures> pages_; // looks are filled in by haveLook()
    cv::Mat allDescriptors_;                  // every page's descriptors, one after the other
    std::vector<std::uint32_t> owners_;       // page index of each row of allDescriptors_
    std::unique_ptr<BinaryIndex> index_;
    LookSource lookSource_;
    mutable std::mutex lookMutex_;
};

} // namespace kestrel::devservice
