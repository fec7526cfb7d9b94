#include "installer/text.h"

#include <gtest/gtest.h>

namespace {

using installer::ErrorReportText;
using installer::TextLines;
using Lines = std::vector<std::string>;

TEST(TrimTest, RemovesCodesUpTo32AtBothEndsOnly) {
    EXPECT_EQ(installer::Trim(std::string("\0\t\r\n a b \x1f\x20", 10)), "a b");
    EXPECT_EQ(installer::Trim("   "), "");
    EXPECT_EQ(installer::Trim("\xa0x\xa0"), "\xa0x\xa0"); // high bytes are not blanks
}

TEST(UpperCaseTest, OnlyAsciiLettersChange) {
    EXPECT_EQ(installer::UpperCase("abz AZ 09 _-\xe9\xff"), "ABZ AZ 09 _-\xe9\xff");
}

TEST(TextLinesTest, EveryLineEndCountsAndAFinalOneAddsNoLine) {
    EXPECT_EQ(TextLines(""), Lines{});
    EXPECT_EQ(TextLines("one"), Lines{"one"});
    EXPECT_EQ(TextLines("a\r\nb\nc\rd\r\n"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(TextLines("\n\n"), (Lines{"", ""}));
    EXPECT_EQ(TextLines("a\r\r\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(TextLines(std::string("x\0y\n", 4)), Lines{"xy"});
}

TEST(ErrorReportTextTest, DotOnlyAfterCharactersThatSortAfterDot) {
    EXPECT_EQ(ErrorReportText("Connection closed by server"), "Connection closed by server.");
    EXPECT_EQ(ErrorReportText("Cannot open file /x/y.svf"), "Cannot open file /x/y.svf.");
    EXPECT_EQ(ErrorReportText("done."), "done.");
    EXPECT_EQ(ErrorReportText("550 Not found\r\n"), "550 Not found\r\n");
    EXPECT_EQ(ErrorReportText("(x)"), "(x)");
    EXPECT_EQ(ErrorReportText("path/"), "path/.");
    EXPECT_EQ(ErrorReportText("caf\xe9"), "caf\xe9.");
    EXPECT_EQ(ErrorReportText(""), "");
}

} // namespace
