#include "platform/bundle/strings_table.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using kestrel::platform::parseStringsTable;
using kestrel::platform::StringsTable;

namespace {

std::string textOf(std::string_view file, const std::string& key) {
    const auto table = parseStringsTable(file);
    if (!table) return "<rejected>";
    const auto it = table->find(key);
    return it == table->end() ? "<missing>" : it->second;
}

} // namespace

TEST(StringsTable, EntriesCommentsUnquotedWordsAndDuplicates) {
    const auto table = parseStringsTable(R"(/* A block comment
   over two lines */
"greeting" = "Hello";
// a line comment
  "spaced"	=	"with tabs"	;
plain_key0 = http://host/a:b$c+d;
"alone";
"dup" = "first"; "dup" = "second";
/**/ "" = "empty key"; /* trailing */)");
    ASSERT_TRUE(table);
    EXPECT_EQ(*table, (StringsTable{{"greeting", "Hello"},
                                    {"spaced", "with tabs"},
                                    {"plain_key0", "http://host/a:b$c+d"},
                                    {"alone", "alone"},
                                    {"dup", "second"},
                                    {"", "empty key"}}));
    EXPECT_TRUE(parseStringsTable("// no newline\n")->empty());
    EXPECT_EQ(textOf("\xEF\xBB\xBF\"k\" = \"v\";", "k"), "v"); // a byte order mark is skipped
}

TEST(StringsTable, Escapes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"("k" = "a\nb\t";)", "a\nb\t"},
        {R"("k" = "say \"hi\" \\ it\'s";)", "say \"hi\" \\ it's"},
        {R"("k" = "caf\U00e9\U00C9";)", "caf\xC3\xA9\xC3\x89"},
        {R"("k" = "\r\a\b\f\v";)", "\r\a\b\f\v"},
        {R"("k" = "\U20AC1";)", "\xE2\x82\xAC"
                                "1"},                     // at most four hex digits
        {R"("k" = "\UD83D\UDE00";)", "\xF0\x9F\x98\x80"}, // a surrogate pair
        {R"("k" = "\UD800\UDC00";)", "\xF0\x90\x80\x80"}, // the lowest of them
        {R"("k" = "\101\1017";)", "AA7"},                 // octal, at most three digits
        {R"("k" = "\351";)", "\xC3\xA9"},                 // octal as Latin-1
        {R"("k" = "\q";)", "q"},                          // other characters stand for themselves
        {"\"k\" = \"\\\xC3\xA9\";", "\xC3\xA9"},          // backslash before a multi-byte character
    };
    for (const auto& [file, expected] : cases) EXPECT_EQ(textOf(file, "k"), expected) << file;
}

TEST(StringsTable, MalformedTablesAreRejectedWhole) {
    const std::vector<std::string> files = {
        R"("k" = "v")",                  // no semicolon at the end
        R"("k" = "v" "j" = "w";)",       // no semicolon between entries
        R"("k" = "unterminated;)",       // string without closing quote
        R"("k" = "v"; /* open comment)", // comment without end
        R"("k" "v";)",                   // no '='
        R"("k")",                        // a key and nothing after it
        R"("k" = "v\)",                  // backslash at the very end
        R"("k" = "\UD83D";)",            // high surrogate alone
        R"("k" = "\UDE00";)",            // low surrogate alone
        R"(k@ = "v";)",                  // character not allowed in an unquoted word
        "\"k\" = \"\xC3\";",             // truncated UTF-8
    };
    for (const auto& file : files) EXPECT_FALSE(parseStringsTable(file)) << file;
}
