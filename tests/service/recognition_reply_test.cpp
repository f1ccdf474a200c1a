// What the recognition calls make of the service's replies, and how their completions are called.
#include "service/recognition_fixture.hpp"
#include "support/capture_stdout.hpp"

#include <kestrel/platform/locale.hpp>

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::testing;

namespace {

const char* const pageBody = R"({"Id":"p1","Title":"Page one","SessionId":"s1","Actions":[]})";
const char* const picturesBody = R"([{"Id":"a","RecognitionScore":0.9},{"Id":"b"}])";

struct ReplyCase {
    const char* what;
    JsonValue reply;
    bool succeeds;
    const char* printed; // what the enriched-image call prints; picture search prints its own
};

const ReplyCase failures[] = {
    {"201", {{"status", 201}, {"body", pageBody}}, false, "EnrichedImage http status code: 201\n"},
    {"dropped connection", {{"drop", true}}, false, "Error: HttpError."},
};

} // namespace

TEST(RecognitionReplies, EnrichedImage) {
    auto& service = recognitionService();
    platform::Locale::setPreferredLanguages({"fr"});
    service.reset({{"status", 200}, {"body", pageBody}});
    Outcome<Image> outcome;
    std::string printed = captureStdout([&] { outcome = recognise(); });
    ASSERT_TRUE(outcome.value);
    EXPECT_EQ(outcome.value->title, "Page one");
    EXPECT_EQ(outcome.value->sessionId, "s1");
    EXPECT_FALSE(outcome.error);
    EXPECT_TRUE(outcome.onDelegateQueue);
    EXPECT_TRUE(printed.ends_with("/v1/enriched-images\nEnrichedImage http status code: 200\n"))
        << printed;

    service.reset({{"status", 200}, {"body", "[1, 2"}});
    printed = captureStdout([&] { outcome = recognise(); });
    EXPECT_EQ(outcome.error, KestrelError::notEnrichedImage);
    EXPECT_TRUE(printed.ends_with("code: 200\nerror trying to convert data to JSON\n")) << printed;

    for (const auto& c : failures) {
        SCOPED_TRACE(c.what);
        service.reset(c.reply);
        printed = captureStdout([&] { outcome = recognise(); });
        EXPECT_FALSE(outcome.value);
        EXPECT_EQ(outcome.error, KestrelError::notEnrichedImage);
        EXPECT_TRUE(outcome.onDelegateQueue);
        EXPECT_NE(printed.find(c.printed), std::string::npos) << printed;
    }
}

TEST(RecognitionReplies, PictureSearch) {
    auto& service = recognitionService();
    platform::Locale::setPreferredLanguages({"fr"});
    service.reset({{"status", 200}, {"body", picturesBody}});
    Outcome<std::vector<Picture>> outcome;
    std::string printed = captureStdout([&] { outcome = searchPictures(); });
    ASSERT_TRUE(outcome.value);
    ASSERT_EQ(outcome.value->size(), 2u);
    EXPECT_EQ((*outcome.value)[0].recognitionScore, 0.9);
    EXPECT_EQ((*outcome.value)[1].id, "b");
    EXPECT_EQ(printed.find("status code"), std::string::npos) << printed;

    service.reset({{"status", 200}, {"body", "[]"}});
    outcome = searchPictures();
    EXPECT_EQ(outcome.value, std::vector<Picture>{});
    EXPECT_FALSE(outcome.error);

    service.reset({{"status", 200}, {"body", pageBody}});
    printed = captureStdout([&] { outcome = searchPictures(); });
    EXPECT_EQ(outcome.error, KestrelError::notEnrichedImage);
    EXPECT_TRUE(printed.ends_with("\nerror trying to convert data to JSON\n")) << printed;

    for (const auto& c : failures) {
        SCOPED_TRACE(c.what);
        service.reset(c.reply);
        printed = captureStdout([&] { outcome = searchPictures(); });
        EXPECT_FALSE(outcome.value);
        EXPECT_EQ(outcome.error, KestrelError::notEnrichedImage);
        EXPECT_TRUE(outcome.onDelegateQueue);
        const std::string expected =
            c.reply.contains("status")
                ? "PictureSearch http status code: " + std::to_string(c.reply["status"].get<int>())
                : "Error: HttpError.";
        EXPECT_NE(printed.find(expected), std::string::npos) << printed;
    }
}
