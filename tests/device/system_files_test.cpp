// Shell-style KEY=value files as os-release and machine-info write them.
#include "platform/system_files.hpp"

#include <gtest/gtest.h>

using kestrel::platform::shellAssignment;

TEST(ShellAssignment, UndoesTheQuotingTheseFilesAllow) {
    const struct {
        const char* line;
        const char* expected;
    } cases[] = {
        {"K=plain", "plain"},
        {"K=\"two words\"", "two words"},
        {"K='single $quoted \\n'", "single $quoted \\n"},
        {"K=\"esc \\\" \\\\ \\$ \\`\"", "esc \" \\ $ `"},
        {"K=\"keeps \\n as is\"", "keeps \\n as is"},
        {"K=back\\ slash", "back slash"},
        {"K=\"joined\"'parts'", "joinedparts"},
        {"K=value # comment", "value"},
        {"K=\"unterminated", "unterminated"},
        {"K=", ""},
        {"  K = spaced", ""}, // white space after '=' ends an unquoted value at once
        {"K=\"caf\xc3\xa9\"", "caf\xc3\xa9"},
    };
    for (const auto& c : cases) EXPECT_EQ(shellAssignment(c.line, "K"), c.expected) << c.line;
}

TEST(ShellAssignment, FindsTheLastAssignmentOfExactlyThatKey) {
    const char* content = "# K=commented\n"
                          "KEY=longer name\n"
                          "\n"
                          "K=first\n"
                          "   \t\n"
                          "not an assignment\n"
                          "K=second\n"
                          "XK=other";
    EXPECT_EQ(shellAssignment(content, "K"), "second");
    EXPECT_EQ(shellAssignment(content, "KEY"), "longer");
    EXPECT_EQ(shellAssignment(content, "XK"), "other");
    EXPECT_EQ(shellAssignment(content, "MISSING"), std::nullopt);
    EXPECT_EQ(shellAssignment("", "K"), std::nullopt);
}
