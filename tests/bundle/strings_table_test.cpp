#include "platform/strings_table.hpp"

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

TEST(StringsTable, EntriesCommentsAndLayout) {
    const auto table = parseStringsTable(R"(/* A block comment
   over two lines */
"greeting" = "Hello";   // a line comment
"farewell"="Bye";
  "spaced"	=	"with tabs"	;
/**/ "after.empty.comment" = "x"; /* trailing */)");
    ASSERT_TRUE(table);
    EXPECT_EQ(*table, (StringsTable{{"greeting", "Hello"},
                                    {"farewell", "Bye"},
                                    {"spaced", "with tabs"},
                                    {"after.empty.comment", "x"}}));
}

TEST(StringsTable, EmptyAndCommentOnlyFilesAreEmptyTables) {
    for (const char* file : {"", "   \n\t", "/* nothing */", "// nothing", "// no newline\n"}) {
        const auto table = parseStringsTable(file);
        ASSERT_TRUE(table) << file;
        EXPECT_TRUE(table->empty()) << file;
    }
}

TEST(StringsTable, Escapes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"("k" = "a\nb";)", "a\nb"},
        {R"("k" = "tab\there";)", "tab\there"},
        {R"("k" = "cr\r";)", "cr\r"},
        {R"("k" = "say \"hi\"";)", "say \"hi\""},
        {R"("k" = "back\\slash";)", "back\\slash"},
        {R"("k" = "it\'s";)", "it's"},
        {R"("k" = "\a\b\f\v";)", "\a\b\f\v"},
        {R"("k" = "caf\U00e9";)", "caf\xC3\xA9"},
        {R"("k" = "caf\u00E9";)", "caf\xC3\xA9"},
        {R"("k" = "\U20AC1";)", "\xE2\x82\xAC"
                                "1"},                     // at most four hex digits
        {R"("k" = "\U41";)", "A"},                        // fewer digits are fine
        {R"("k" = "\UD83D\UDE00";)", "\xF0\x9F\x98\x80"}, // a surrogate pair
        {R"("k" = "\101\1017";)", "AA7"},                 // octal, at most three digits
        {R"("k" = "\351t\351";)", "\xC3\xA9t\xC3\xA9"},   // octal as Latin-1
        {R"("k" = "\q";)", "q"},                          // other characters stand for themselves
        {"\"k\" = \"line\\\nbreak\";", "line\nbreak"},
        {"\"k\" = \"raw\nnewline\";", "raw\nnewline"},
        {"\"k\" = \"\\\xC3\xA9\";", "\xC3\xA9"}, // backslash before a multi-byte character
        {"\"k\" = \"na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC\";",
         "na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC"},
    };
    for (const auto& [file, expected] : cases) EXPECT_EQ(textOf(file, "k"), expected) << file;
}

TEST(StringsTable, UnquotedWordsKeyAloneAndDuplicates) {
    const auto table = parseStringsTable("plain_key = some.value-1;\n"
                                         "\"alone\";\n"
                                         "url = http://host/a:b$c+d;\n"
                                         "\"dup\" = \"first\";\n\"dup\" = \"second\";\n"
                                         "\"\" = \"empty key\";");
    ASSERT_TRUE(table);
    EXPECT_EQ(table->at("plain_key"), "some.value-1");
    EXPECT_EQ(table->at("alone"), "alone");
    EXPECT_EQ(table->at("url"), "http://host/a:b$c+d");
    EXPECT_EQ(table->at("dup"), "second");
    EXPECT_EQ(table->at(""), "empty key");
}

TEST(StringsTable, ByteOrderMarksAndUtf16) {
    EXPECT_EQ(textOf("\xEF\xBB\xBF\"k\" = \"v\";", "k"), "v");

    // "k" = "é😀"; in UTF-16, both byte orders.
    const std::u16string text = u"\"k\" = \"\u00E9\U0001F600\";";
    std::string le = "\xFF\xFE", be = "\xFE\xFF";
    for (char16_t unit : text) {
        le += static_cast<char>(unit & 0xFF);
        le += static_cast<char>(unit >> 8);
        be += static_cast<char>(unit >> 8);
        be += static_cast<char>(unit & 0xFF);
    }
    EXPECT_EQ(textOf(le, "k"), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(textOf(be, "k"), "\xC3\xA9\xF0\x9F\x98\x80");

    EXPECT_EQ(textOf(le + "x", "k"), "<rejected>");                           // odd length
    EXPECT_EQ(textOf(std::string("\xFF\xFE\x3D\xD8", 4), "k"), "<rejected>"); // lone surrogate
}

TEST(StringsTable, MalformedTablesAreRejectedWhole) {
    const std::vector<std::string> files = {
        R"("k" = "v")",                  // no semicolon at the end
        R"("k" = "v" "j" = "w";)",       // no semicolon between entries
        R"("k" = "unterminated;)",       // string without closing quote
        R"("k" = "v"; /* open comment)", // comment without end
        R"("k" "v";)",                   // no '='
        R"("k" = ;)",                    // no text
        R"("k" = = "v";)",
        R"(= "v";)",
        R"("k" = "v";;)",
        R"("k" = "v\)",       // backslash at the very end
        R"("k" = "\U";)",     // \U without digits
        R"("k" = "\UD83D";)", // high surrogate alone
        R"("k" = "\UD83Dx";)",
        R"("k" = "\UDE00";)",       // low surrogate alone
        R"("k" = "\UD83D\U0041";)", // high surrogate followed by no low one
        R"("k" = "v"; garbage!)",
        R"(k@ = "v";)",              // character not allowed in an unquoted word
        "\"k\" = \"\xC3\";",         // truncated UTF-8
        "\"k\" = \"\xC0\xAF\";",     // overlong UTF-8
        "\"k\" = \"\xED\xA0\x80\";", // UTF-8 encoded surrogate
    };
    for (const auto& file : files) EXPECT_FALSE(parseStringsTable(file)) << file;
}
