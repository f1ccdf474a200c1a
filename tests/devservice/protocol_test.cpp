// The service's rules around recognition: keys, sessions and the clicks on their actions,
// requests that are refused with a 4xx status and a one-line reason rather than answered or
// crashed on, and photos that declare huge images: decoded at a reduced scale, and together
// within a bounded memory however many arrive at once.
#include "running_service.hpp"

#include "photo_upload.hpp"
#include "session_ids.hpp"

#include <kestrel/model/image.hpp>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <bitset>
#include <regex>
#include <set>
#include <thread>

namespace kestrel::testing {
namespace {

// Clicks with key on one action of one page, from GET /v1/stats.
std::int64_t clicksOf(const std::string& page, const std::string& action,
                      const std::string& key = kDemoKey) {
    const auto stats = service().stats(key);
    for (const auto& entry : stats.at("Pages"))
        if (entry.at("Id") == page)
            for (const auto& counted : entry.at("Actions"))
                if (counted.at("Id") == action) return counted.at("Clicks").get<std::int64_t>();
    ADD_FAILURE() << "no " << page << " / " << action << " in the stats";
    return -1;
}

Image recogniseSample(std::size_t index, unsigned series, const std::string& key = kDemoKey) {
    std::mt19937 random(series);
    const auto reply = service().recognise(photograph(samplePages().at(index).image, random), key);
    EXPECT_TRUE(reply && reply->status == 200) << (reply ? reply->body : "no reply");
    return Image::decodeReply(reply ? reply->body : "");
}

std::string jpegOf(const cv::Mat& image) {
    std::vector<unsigned char> bytes;
    cv::imencode(".jpg", image, bytes);
    return {bytes.begin(), bytes.end()};
}

TEST(Access, EveryEndpointRefusesARequestWithoutAKnownKey) {
    const std::string body = recognitionBody(jpegOf(samplePages().front().image));
    for (const std::string key : {"", "not-a-key"}) {
        SCOPED_TRACE("key \"" + key + "\"");
        EXPECT_EQ(service().post("/v1/enriched-images", body, key)->status, 401);
        EXPECT_EQ(service().post("/v1/pictures/search", body, key)->status, 401);
        EXPECT_EQ(service().click("anything", "anything", key)->status, 401);
        httplib::Headers headers;
        if (!key.empty()) headers.emplace("ApiKey", key);
        EXPECT_EQ(service().client().Get("/v1/stats", headers)->status, 401);
    }
}

TEST(Sessions, IdentifiersAreVersion4UuidsWhoseEveryRandomBitVaries) {
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    std::bitset<128> ones, zeros;
    for (int i = 0; i < 2000; ++i) {
        const std::string id = devservice::unguessableId();
        ASSERT_TRUE(std::regex_match(id, form)) << id;
        seen.insert(id);
        std::string hex = id;
        std::erase(hex, '-');
        for (std::size_t bit = 0; bit < 128; ++bit) {
            const int digit = std::stoi(hex.substr(bit / 4, 1), nullptr, 16);
            ((digit >> (3 - bit % 4)) & 1 ? ones : zeros).set(bit);
        }
    }
    EXPECT_EQ(seen.size(), 2000u);
    EXPECT_EQ((ones & zeros).count(), 122u); // all but the 6 version and variant bits
}

// Each recognition opens a session of its own, which belongs to the key that opened it: its
// clicks are counted for that key, and another key can neither click in it nor count it.
TEST(Sessions, ClicksInASessionCountForItsKeyAlone) {
    const std::string owner = "owner-key-0002", stranger = "stranger-key-0003";
    service().addKey(owner);
    service().addKey(stranger);
    const Image first = recogniseSample(1, 11, owner), second = recogniseSample(1, 12, owner);
    ASSERT_TRUE(first.id && first.sessionId && second.sessionId && first.actions);
    EXPECT_NE(*first.sessionId, *second.sessionId);
    const std::string action = *first.actions->back().id;

    const auto refused = service().click(*first.sessionId, action, stranger);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 404) << refused->body;
    const auto counted = service().click(*first.sessionId, action, owner);
    ASSERT_TRUE(counted);
    EXPECT_EQ(counted->status, 204);
    EXPECT_TRUE(counted->body.empty());
    EXPECT_EQ(service().click(*second.sessionId, action, owner)->status, 204);

    EXPECT_EQ(clicksOf(*first.id, action, owner), 2);
    const auto own = service().stats(owner), other = service().stats(stranger);
    EXPECT_EQ(own.at("Sessions"), 2);
    EXPECT_EQ(own.at("Clicks"), 2);
    EXPECT_EQ(other.at("Sessions"), 0);
    EXPECT_EQ(other.at("Clicks"), 0);
    EXPECT_EQ(other.at("Pages").size(), samplePages().size()); // the catalogue itself is shared
}

TEST(Clicks, UnknownSessionsActionsOfOtherPagesAndMissingPartsAreNotCounted) {
    const Image image = recogniseSample(2, 21);
    const Image other = recogniseSample(4, 22);
    ASSERT_TRUE(image.id && image.sessionId && image.actions && other.actions);
    const std::string own = *image.actions->front().id;
    const std::int64_t before = clicksOf(*image.id, own);

    EXPECT_EQ(service().click("7C0FFEE0-0000-4000-8000-000000000000", own)->status, 404);
    EXPECT_EQ(service().click(*image.sessionId, *other.actions->front().id)->status, 404);
    EXPECT_EQ(service().click(*image.sessionId, "")->status, 400);
    EXPECT_EQ(service().click("", own)->status, 400);
    EXPECT_EQ(clicksOf(*image.id, own), before);
}
TEST(Upload, FormsAreReadWhateverFollowsTheirClosingDelimiter) {
    std::mt19937 random(31);
    const auto shot = photograph(samplePages().at(3).image, random);
    const std::string form = recognitionBody({shot.begin(), shot.end()});
    const std::vector<std::pair<std::string, std::string>> variants{
        {form, kMultipartType}, // as the client library sends it: nothing after the delimiter
        {"a preamble\r\n" + form + "\r\nan epilogue", kMultipartType},
        {form, "multipart/form-data; charset=utf-8; boundary=\"Boundary-TEST\""},
    };
    for (const auto& [body, type] : variants) {
        const auto reply = service().post("/v1/enriched-images", body, kDemoKey, type);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200) << type << ": " << reply->body;
        EXPECT_EQ(Image::decodeReply(reply->body).id, samplePages().at(3).description.at("id"));
    }
}

TEST(Upload, MalformedRequestsAreRefusedWithAOneLineReason) {
    const std::string jpeg = jpegOf(samplePages().front().image);
    std::string hugeFrame = jpeg; // the frame header claims 60000 x 60000 pixels
    const std::size_t sof = hugeFrame.find("\xFF\xC0", 2);
    ASSERT_NE(sof, std::string::npos);
    hugeFrame.replace(sof + 5, 4, "\xEA\x60\xEA\x60");
    std::vector<unsigned char> png;
    cv::imencode(".png", samplePages().front().image, png);

    struct Case {
        const char* what;
        std::string body;
        std::string contentType;
        int status;
    };
    const std::vector<Case> cases{
        {"not a form", R"({"file": "x"})", "application/json", 400},
        {"form cut short", recognitionBody(jpeg).substr(0, 90), kMultipartType, 400},
        {"no file part",
         "--Boundary-TEST\r\nContent-Disposition: form-data; name=\"query\"\r\n\r\n{}\r\n"
         "--Boundary-TEST--",
         kMultipartType, 400},
        {"a PNG", recognitionBody({png.begin(), png.end()}), kMultipartType, 415},
        {"a JPEG cut before its frame", recognitionBody(jpeg.substr(0, 20)), kMultipartType, 400},
        {"a JPEG declaring 3.6 gigapixels", recognitionBody(hugeFrame), kMultipartType, 413},
        {"a photo over 10 MiB", recognitionBody(jpeg + std::string(10u << 20, '\0')),
         kMultipartType, 413},
        {"a body over the request limit", recognitionBody(std::string(11u << 20, '\xFF')),
         kMultipartType, 413},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* path : {"/v1/enriched-images", "/v1/pictures/search"}) {
            const auto reply = service().post(path, c.body, kDemoKey, c.contentType);
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->status, c.status) << reply->body;
            EXPECT_GT(reply->body.size(), 1u);
            EXPECT_EQ(std::count(reply->body.begin(), reply->body.end(), '\n'), 1);
            EXPECT_EQ(reply->body.back(), '\n');
        }
    }
    EXPECT_TRUE(recogniseSample(0, 5).id); // and the service still recognises
}

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
