// Sessions belong to the key that opened them: their identifiers cannot be guessed.
#include "session_ids.hpp"

#include <gtest/gtest.h>

#include <bitset>
#include <regex>
#include <set>

namespace kestrel::testing {
namespace {

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

} // namespace
} // namespace kestrel::testing
