// The service's rules around recognition: keys, clicks on a session's actions, and requests that
// are refused with a 4xx status and a one-line reason rather than answered or crashed on.
#include "running_service.hpp"

#include <kestrel/model/image.hpp>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>

namespace kestrel::testing {
namespace {

const RunningService& service() { return RunningService::shared(); }

httplib::Result click(const std::string& session, const std::string& action,
                      const std::string& key = kDemoKey) {
    httplib::Headers headers{{"ApiKey", key}};
    if (!session.empty()) headers.emplace("SessionId", session);
    const std::string path = action.empty() ? "/v1/clicks" : "/v1/clicks?actionId=" + action;
    return service().client().Put(path.c_str(), headers, "", "application/x-www-form-urlencoded");
}

// Clicks on one action of one page, from GET /v1/stats.
std::int64_t clicksOf(const std::string& page, const std::string& action) {
    const auto reply = service().client().Get("/v1/stats", httplib::Headers{{"ApiKey", kDemoKey}});
    EXPECT_TRUE(reply && reply->status == 200) << (reply ? reply->body : "no reply");
    const auto stats = nlohmann::json::parse(reply->body);
    for (const auto& entry : stats.at("Pages"))
        if (entry.at("Id") == page)
            for (const auto& counted : entry.at("Actions"))
                if (counted.at("Id") == action) return counted.at("Clicks").get<std::int64_t>();
    ADD_FAILURE() << "no " << page << " / " << action << " in the stats";
    return -1;
}

Image recogniseSample(std::size_t index, unsigned series) {
    std::mt19937 random(series);
    const auto reply = service().recognise(photograph(samplePages().at(index).image, random));
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
        EXPECT_EQ(click("anything", "anything", key)->status, 401);
        httplib::Headers headers;
        if (!key.empty()) headers.emplace("ApiKey", key);
        EXPECT_EQ(service().client().Get("/v1/stats", headers)->status, 401);
    }
}

TEST(Clicks, EachRecognitionOpensASessionWhoseActionClicksAreCounted) {
    const Image first = recogniseSample(1, 11), second = recogniseSample(1, 12);
    ASSERT_TRUE(first.id && first.sessionId && second.sessionId && first.actions);
    EXPECT_NE(*first.sessionId, *second.sessionId);
    const std::string action = *first.actions->back().id;
    const std::int64_t before = clicksOf(*first.id, action);

    const auto counted = click(*first.sessionId, action);
    ASSERT_TRUE(counted);
    EXPECT_EQ(counted->status, 204);
    EXPECT_TRUE(counted->body.empty());
    EXPECT_EQ(click(*second.sessionId, action)->status, 204);
    EXPECT_EQ(clicksOf(*first.id, action), before + 2);
}

TEST(Clicks, UnknownSessionsActionsOfOtherPagesAndMissingPartsAreNotCounted) {
    const Image image = recogniseSample(2, 21);
    const Image other = recogniseSample(4, 22);
    ASSERT_TRUE(image.id && image.sessionId && image.actions && other.actions);
    const std::string own = *image.actions->front().id;
    const std::int64_t before = clicksOf(*image.id, own);

    EXPECT_EQ(click("7C0FFEE0-0000-4000-8000-000000000000", own)->status, 404);
    EXPECT_EQ(click(*image.sessionId, *other.actions->front().id)->status, 404);
    EXPECT_EQ(click(*image.sessionId, "")->status, 400);
    EXPECT_EQ(click("", own)->status, 400);
    EXPECT_EQ(clicksOf(*image.id, own), before);
}

TEST(Upload, FormsAreReadWhateverFollowsTheirClosingDelimiter) {
    std::mt19937 random(31);
    const auto shot = photograph(samplePages().at(3).image, random);
    const std::string form = recognitionBody({shot.begin(), shot.end()});
    const std::vector<std::pair<std::string, std::string>> variants{
        {form, kMultipartType}, // as the client library sends it: nothing after the delimiter
        {form + "\r\n", kMultipartType},
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

} // namespace
} // namespace kestrel::testing
