#include <kestrel/raw_value.hpp>

#include <gtest/gtest.h>

#include <array>
#include <utility>

namespace {
enum class Colour { red, darkBlue };
enum class Code { zero };
} // namespace

template <>
struct kestrel::EnumRawValues<Colour> {
    static constexpr std::array values{std::pair{Colour::red, std::string_view("red")},
                                       std::pair{Colour::darkBlue, std::string_view("dark-blue")}};
};
template <>
struct kestrel::EnumRawValues<Code> {
    static constexpr std::array values{std::pair{Code::zero, std::int64_t{0}}};
};

TEST(RawValues, ExactMatchBothWays) {
    EXPECT_EQ(kestrel::rawValue(Colour::darkBlue), "dark-blue");
    EXPECT_EQ(kestrel::fromRawValue<Colour>("dark-blue"), Colour::darkBlue);
    EXPECT_EQ(kestrel::fromRawValue<Colour>("red"), Colour::red);
    for (const char* raw : {"Red", "RED", "red ", "", "darkBlue"})
        EXPECT_FALSE(kestrel::fromRawValue<Colour>(raw)) << raw;
    EXPECT_EQ(kestrel::rawValue(Code::zero), 0);
    EXPECT_EQ(kestrel::fromRawValue<Code>(0), Code::zero);
    EXPECT_FALSE(kestrel::fromRawValue<Code>(1));
}
