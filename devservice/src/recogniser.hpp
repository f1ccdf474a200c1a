// Finds which catalogue pages a photo shows: ORB features of the photo are looked up among the
// features of every page (an LSH index over all of them), the pages that collect the most
// distinctive matches are checked one by one with a homography fitted by RANSAC, and only a page
// whose matches agree on one plausible view of it counts.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace cv {
class DescriptorMatcher;
namespace flann {
class Index;
}
} // namespace cv

namespace kestrel::devservice {

struct RecogniserSettings {
    int pageFeatures = 500;   // kept per catalogue page
    int photoFeatures = 1000; // looked for in a photo
    int pageLongSide = 640;   // pages and photos are scaled to these before features are taken
    int photoLongSide = 640;
    int lshTables = 8, lshKeyBits = 20, lshProbeLevel = 0; // the index over every page's features
    float ratio = 0.8f;          // nearest / second-nearest distance must be below this
    std::size_t candidates = 4;  // pages checked geometrically per photo
    int minInliers = 15;         // matches that must agree on the homography
    double reprojection = 5.0;   // RANSAC threshold, in photo pixels
    double minSpread = 0.03;     // area the agreeing matches span, as a share of the page
    double minResemblance = 0.6; // correlation of the page with the photo seen through the fit,
                                 // both with the light evened out
    int sureInliers = 100;       // this many agreeing matches need no resemblance
};

struct Recognition {
    std::size_t page; // index in the order pages were added
    int inliers;
    double score; // in [0, 1], growing with the number of agreeing matches
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
    // Indexes the features of every page added; recognise() needs it.
    void build();
    std::size_t size() const { return pages_.size(); }

    // The verified pages the photo shows, best first, at most maxResults. Thread-safe.
    std::vector<Recognition> recognise(const cv::Mat& photo, std::size_t maxResults) const;

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
    std::vector<PageFeatures> pages_;
    cv::Mat allDescriptors_;            // every page's descriptors, one after the other
    std::vector<std::uint32_t> owners_; // page index of each row of allDescriptors_
    std::unique_ptr<cv::flann::Index> index_;
    mutable std::mutex indexMutex_; // FLANN's search keeps scratch state in the index
};

} // namespace kestrel::devservice
