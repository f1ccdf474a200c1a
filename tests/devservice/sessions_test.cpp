// Sessions belong to the key that opened them: their identifiers cannot be guessed, and another
// key can neither click in them nor count them.
#include "running_service.hpp"

#include "session_ids.hpp"

#include <kestrel/model/image.hpp>

#include <gtest/gtest.h>

#include <bitset>
#include <regex>
#include <set>

namespace kestrel::testing {
namespace {

const RunningService& service() { return RunningService::shared(); }

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

httplib::Result click(const std::string& session, const std::string& action,
                      const std::string& key) {
    return service().client().Put(("/v1/clicks?actionId=" + action).c_str(),
                                  httplib::Headers{{"ApiKey", key}, {"SessionId", session}}, "",
                                  "application/x-www-form-urlencoded");
}

nlohmann::json statsOf(const std::string& key) {
    const auto reply = service().client().Get("/v1/stats", httplib::Headers{{"ApiKey", key}});
    EXPECT_TRUE(reply && reply->status == 200) << (reply ? reply->body : "no reply");
    return nlohmann::json::parse(reply ? reply->body : "{}");
}

TEST(Sessions, AnotherKeyCanNeitherClickInASessionNorCountIt) {
    const std::string owner = "owner-key-0002", stranger = "stranger-key-0003";
    service().addKey(owner);
    service().addKey(stranger);
    std::mt19937 random(41);
    const auto shot = photograph(samplePages().at(2).image, random);
    const auto reply =
        service().post("/v1/enriched-images", recognitionBody({shot.begin(), shot.end()}), owner);
    ASSERT_TRUE(reply && reply->status == 200) << (reply ? reply->body : "no reply");
    const Image page = Image::decodeReply(reply->body);
    ASSERT_TRUE(page.sessionId && page.actions && !page.actions->empty());
    const std::string action = *page.actions->front().id;

    const auto refused = click(*page.sessionId, action, stranger);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 404) << refused->body;
    EXPECT_EQ(click(*page.sessionId, action, owner)->status, 204);

    const auto own = statsOf(owner), other = statsOf(stranger);
    EXPECT_EQ(own.at("Sessions"), 1);
    EXPECT_EQ(own.at("Clicks"), 1);
    EXPECT_EQ(other.at("Sessions"), 0);
    EXPECT_EQ(other.at("Clicks"), 0);
    EXPECT_EQ(other.at("Pages").size(), samplePages().size()); // the catalogue itself is shared
}

} // namespace
} // namespace kestrel::testing
