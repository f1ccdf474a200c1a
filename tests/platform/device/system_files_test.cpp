// Shell-style KEY=value files as os-release and machine-info write them.
#include "platform/device/system_files.hpp"

#include <gtest/gtest.h>

using kestrel::platform::shellAssignment;

TEST(ShellAssignment, UndoesTheQuotingAndFindsTheLastAssignmentOfThatKey) {
    const struct {
        const char* line;
        const char* expected;
    } cases[] = {
        {"K='single $quoted \\n'", "single $quoted \\n"},
        {"K=\"esc \\\" \\\\ \\$ \\`\"", "esc \" \\ $ `"},
        {"K=\"joined\"'parts'", "joinedparts"},
        {"K=value # comment", "value"},
        {"K=Debian\\ GNU\\/Linux", "Debian GNU/Linux"}, // unquoted escapes
    };
    for (const auto& c : cases) EXPECT_EQ(shellAssignment(c.line, "K"), c.expected) << c.line;
    // The last assignment of exactly that key counts.
    const char* content = "# K=commented\nKEY=longer name\nK=first\nnot an assignment\nK=second\n";
    EXPECT_EQ(shellAssignment(content, "K"), "second");
    EXPECT_EQ(shellAssignment(content, "KEY"), "longer");
    EXPECT_EQ(shellAssignment(content, "MISSING"), std::nullopt);
}
