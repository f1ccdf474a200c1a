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
