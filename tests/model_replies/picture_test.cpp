#include <kestrel/model/image.hpp>
#include <kestrel/model/picture.hpp>

#include <gtest/gtest.h>

using kestrel::DecodingError;
using kestrel::JsonValue;
using kestrel::Picture;

TEST(PictureDecoding, EveryMemberFromItsOwnKeyAndType) {
    const auto picture = Picture::decode(JsonValue::parse(R"({
        "_objectId": "o1", "Id": "12", "Name": "Cover", "Data": "d", "OrganizationId": "org",
        "BigThumbnailUrl": "http://t/1.jpg", "SessionId": "s", "RecognitionScore": 0.87,
        "Unknown": "ignored"})"));
    EXPECT_EQ(picture._objectId, "o1");
    EXPECT_EQ(picture.id, "12");
    EXPECT_EQ(picture.name, "Cover");
    EXPECT_EQ(picture.data, "d");
    EXPECT_EQ(picture.organizationId, "org");
    EXPECT_EQ(picture.bigThumbnailUrl, "http://t/1.jpg");
    EXPECT_EQ(picture.sessionId, "s");
    EXPECT_EQ(picture.recognitionScore, 0.87);
}

TEST(PictureDecoding, WrongTypesAndNamesLeaveOnlyTheirFieldAbsent) {
    EXPECT_EQ(Picture::decode(JsonValue::object()), Picture{});
    const auto picture = Picture::decode(JsonValue::parse(
        R"({"Id": 12, "id": "x", "Name": null, "RecognitionScore": "0.5", "SessionId": "s"})"));
    EXPECT_FALSE(picture.id);
    EXPECT_FALSE(picture.name);
    EXPECT_FALSE(picture.recognitionScore);
    EXPECT_EQ(picture.sessionId, "s");
    EXPECT_EQ(Picture::decode(JsonValue::parse(R"({"RecognitionScore": 1})")).recognitionScore,
              1.0);
}

TEST(PictureReplies, ListIsAllOrNothing) {
    EXPECT_TRUE(Picture::decodeReply("[]").empty());
    const auto two = Picture::decodeReply(R"([{"Name": "a"}, {"Name": "b"}])");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].name, "a");
    EXPECT_EQ(two[1].name, "b");
    for (const char* body : {R"([{"Name": "a"}, 5])", R"([null])", R"({"Name": "a"})", "", "[",
                             "not json", "\"text\""})
        EXPECT_THROW(Picture::decodeReply(body), DecodingError) << body;
}

// Replies are decoded in time and memory in proportion to their body: lists are cut at the bound,
// and what lies beyond is read (so a broken tail still fails) but never built.
TEST(PictureReplies, ListsBeyondTheBoundAreCutNotBuilt) {
    std::string body = "[";
    for (std::size_t i = 0; i < Picture::maxPictures + 500; ++i)
        body += (i ? "," : "") + std::string(R"({"Id":")") + std::to_string(i) + R"(","L":[1,2]})";
    const auto pictures = Picture::decodeReply(body + "]");
    ASSERT_EQ(pictures.size(), Picture::maxPictures);
    EXPECT_EQ(pictures.front().id, "0");
    EXPECT_EQ(pictures.back().id, std::to_string(Picture::maxPictures - 1));
    EXPECT_THROW(Picture::decodeReply(body + ",{]"), DecodingError);

    // 4 MiB of empty objects: a thousand pictures, not millions of objects.
    std::string empties = "[{}";
    while (empties.size() < (4u << 20)) empties += ",{}";
    EXPECT_EQ(Picture::decodeReply(empties + "]").size(), Picture::maxPictures);

    std::string actions = R"({"SessionId":"s","Actions":[)";
    for (std::size_t i = 0; i < kestrel::Image::maxActions + 10; ++i)
        actions += (i ? "," : "") + std::string(R"({"Id":"a)") + std::to_string(i) + R"("})";
    const auto page = kestrel::Image::decodeReply(actions + "]}");
    ASSERT_TRUE(page.actions);
    EXPECT_EQ(page.actions->size(), kestrel::Image::maxActions);
    EXPECT_EQ(page.sessionId, "s");
}
