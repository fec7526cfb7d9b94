#include "installer/procedure/package_names.h"
#include "installer/procedure/text.h"

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

TEST(PackageNamesTest, IbmiNamesTypesAndPackageFileNames) {
    for (const char* name : {"A", "QGPL", "mylib", "U$#@_.9", "$A", "#A", "@A", "_A", "ABCDEFGHIJ"})
        EXPECT_TRUE(installer::IsIbmiName(name)) << name;
    for (const char* name : {"", "ABCDEFGHIJK", "1ABC", ".ABC", "A B", "A)", "A/B", "A*",
                             "\xe9"
                             "A"})
        EXPECT_FALSE(installer::IsIbmiName(name)) << name;
    EXPECT_TRUE(installer::IsIbmiObjectType("*FILE"));
    for (const char* type : {"FILE", "*", "**FILE", "*FILE X"})
        EXPECT_FALSE(installer::IsIbmiObjectType(type)) << type;
    for (const char* file : {"KDX0042.SVF", "*NONE", "..SVF", "a b.svf"})
        EXPECT_TRUE(installer::IsPackageFileName(file)) << file;
    for (const char* file : {"", ".", "..", "../x", "a/b", "/etc/hostname", "a\\b", "C:x"})
        EXPECT_FALSE(installer::IsPackageFileName(file)) << file;
}

TEST(TextLinesTest, EveryLineEndCountsAndAFinalOneAddsNoLine) {
    EXPECT_EQ(TextLines(""), Lines{});
    EXPECT_EQ(TextLines("one"), Lines{"one"});
    EXPECT_EQ(TextLines("a\r\nb\nc\rd\r\n"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(TextLines("\n\n"), (Lines{"", ""}));
    EXPECT_EQ(TextLines("a\r\r\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(TextLines(std::string("x\0y\n", 4)), Lines{"xy"});
}

TEST(IsUtf8Test, OnlyWellFormedSequences) {
    struct Case {
        std::string bytes;
        bool utf8;
    };
    const Case cases[] = {
        {"", true},
        {"plain ASCII", true},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", true},  // 2, 3 and 4 bytes
        {"\xef\xbf\xbf \xf4\x8f\xbf\xbf \xed\x9f\xbf", true}, // highest of each
        {"caf\xe9", false},                                   // Latin-1
        {"\xc0\xaf", false},                                  // overlong "/"
        {"\xe0\x80\xaf", false},                              // overlong, 3 bytes
        {"\xf0\x80\x80\xaf", false},                          // overlong, 4 bytes
        {"\xed\xa0\x80", false},                              // surrogate half
        {"\xf4\x90\x80\x80", false},                          // beyond U+10FFFF
        {"\xf5\x80\x80\x80", false},
        {"\xe2\x82", false},     // cut short
        {"\xe2\x28\xa1", false}, // not a continuation
        {"\x80", false},         // lone continuation
    };
    for (const Case& c : cases)
        EXPECT_EQ(installer::IsUtf8(c.bytes), c.utf8) << ::testing::PrintToString(c.bytes);
}

TEST(TextFileEncodingTest, Utf8WithOrWithoutMarkElseLatin1ByteForByte) {
    const auto utf8 = installer::TextFileEncoding("\xef\xbb\xbf"
                                                  "caf\xc3\xa9\r\n");
    EXPECT_TRUE(utf8.utf8);
    EXPECT_EQ(utf8.bytes, "caf\xc3\xa9\r\n");
    EXPECT_TRUE(installer::TextFileEncoding("caf\xc3\xa9").utf8);
    const auto latin1 = installer::TextFileEncoding("\xef\xbb\xbf"
                                                    "caf\xe9");
    EXPECT_FALSE(latin1.utf8);
    EXPECT_EQ(latin1.bytes, "\xef\xbb\xbf"
                            "caf\xe9");
}

// A package folder's path in a message: the message is Latin-1, the path UTF-8.
TEST(ShownInLatin1Test, PathsInMessagesAreNeverDoublyEncoded) {
    EXPECT_EQ(installer::ShownInLatin1("C:\\Mises \xc3\xa0 jour\\KDX.SVF"),
              "C:\\Mises \xe0 jour\\KDX.SVF");
    EXPECT_EQ(installer::ShownInLatin1("/u/\xe6\x9b\xb4\xe6\x96\xb0 \xc3\xa0/\xf0\x9f\x93\xa6"),
              "/u/?? \xe0/?");
    EXPECT_EQ(installer::ShownInLatin1("/u/caf\xe9"), "/u/caf\xe9"); // not UTF-8: as it is
}

TEST(SavedLogNameTest, UpdateIdentifierCannotLeaveTheFolder) {
    EXPECT_EQ(installer::SavedLogName("KDX0042", "2024-05-01"),
              "apply-update-KDX0042-2024-05-01.log");
    EXPECT_EQ(installer::SavedLogName("*NONE", "2024-05-01"), "apply-update-_NONE-2024-05-01.log");
    EXPECT_EQ(installer::SavedLogName("../a/b c\xe9", "2024-05-01"),
              "apply-update-.._a_b_c_-2024-05-01.log");
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
