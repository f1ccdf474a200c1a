// Photos that declare huge images: decoded at a reduced scale, and together within a bounded
// memory however many arrive at once.
#include "running_service.hpp"

#include "photo_upload.hpp"

#include <kestrel/model/image.hpp>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/resource.h>

#include <thread>

namespace kestrel::testing {
namespace {

const RunningService& service() { return RunningService::shared(); }

std::size_t peakMemory() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return std::size_t(usage.ru_maxrss) * 1024;
}

// A small progressive JPEG declaring 6400 x 6250 pixels: cut after its first scan.
std::string cutProgressiveJpeg() {
    cv::Mat small(50, 64, CV_8UC3), image;
    cv::randu(small, 0, 255);
    cv::resize(small, image, {6400, 6250}, 0, 0, cv::INTER_LINEAR);
    std::vector<unsigned char> bytes;
    cv::imencode(".jpg", image, bytes, {cv::IMWRITE_JPEG_PROGRESSIVE, 1});
    std::string jpeg(bytes.begin(), bytes.end());
    const std::size_t firstScan = jpeg.find("\xFF\xDA");
    const std::size_t secondScan = jpeg.find("\xFF\xDA", firstScan + 2);
    return jpeg.substr(0, secondScan) + "\xFF\xD9";
}

TEST(Decoding, HugeDeclaredPhotosAreDecodedSmallAndTogetherWithinBoundedMemory) {
    // A 4000 px shot is decoded at a quarter of its size and still recognised.
    std::mt19937 random(51);
    const auto shot = photograph(samplePages().at(5).image, random);
    const cv::Mat shotImage = cv::imdecode(shot, cv::IMREAD_COLOR);
    const double scale = 4000.0 / std::max(shotImage.cols, shotImage.rows);
    cv::Mat large;
    cv::resize(shotImage, large, {}, scale, scale);
    std::vector<unsigned char> jpeg;
    cv::imencode(".jpg", large, jpeg);
    const std::string body = recognitionBody({jpeg.begin(), jpeg.end()});
    devservice::DecodeBudget budget(256u << 20, 1);
    const auto photo = devservice::readPhoto(kMultipartType, body, {}, budget);
    ASSERT_TRUE(std::holds_alternative<cv::Mat>(photo));
    const cv::Mat& decoded = std::get<cv::Mat>(photo);
    EXPECT_LT(std::max(decoded.cols, decoded.rows), 2000);
    EXPECT_GE(std::max(decoded.cols, decoded.rows), 1000);
    const auto recognised = service().recognise(jpeg);
    ASSERT_TRUE(recognised);
    EXPECT_EQ(Image::decodeReply(recognised->body).id, samplePages().at(5).description.at("id"));

    // Eight cut progressive JPEGs at once (each about 175 MB to decode whole) stay far below
    // what they would take together.
    const std::string cut = recognitionBody(cutProgressiveJpeg());
    ASSERT_LT(cut.size(), 1u << 20);
    [[maybe_unused]] const std::size_t before = peakMemory();
    std::vector<std::thread> senders;
    std::vector<int> statuses(8, 0);
    for (std::size_t i = 0; i < statuses.size(); ++i)
        senders.emplace_back([&, i] {
            const auto reply = service().post("/v1/enriched-images", cut);
            statuses[i] = reply ? reply->status : -1;
        });
    for (std::thread& sender : senders) sender.join();
    for (const int status : statuses) EXPECT_TRUE(status == 404 || status == 400) << status;
#if !defined(__SANITIZE_ADDRESS__) // freed memory is held in quarantine, the peak tells nothing
    EXPECT_LT(peakMemory() - before, std::size_t(400) << 20)
        << "peak before: " << (before >> 20) << " MB";
#endif
}

} // namespace
} // namespace kestrel::testing
