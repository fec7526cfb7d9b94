// The password masked in a saved status log where it stands as a word, and nowhere else.
#include "installer/procedure/log_masking.h"

#include <gtest/gtest.h>

namespace {

struct MaskingCase {
    const char* name;
    const char* log;
    std::vector<std::string> passwords;
    const char* saved;
};

void PrintTo(const MaskingCase& c, std::ostream* os) {
    *os << c.name;
}

const MaskingCase kMaskingCases[] = {
    {"WholeWord",
     "CPF9898: Profile QSECOFR password Secret1 expired.",
     {"Secret1"},
     "CPF9898: Profile QSECOFR password ******** expired."},
    {"StartAndEndOfLines",
     "Secret1\nis Secret1\nSecret1",
     {"Secret1"},
     "********\nis ********\n********"},
    {"PartOfAWordIsNot",
     "xSecret1 Secret12 Secret1_ Secret1\xc3\xa9 \xc3\x9fSecret1",
     {"Secret1"},
     "xSecret1 Secret12 Secret1_ Secret1\xc3\xa9 \xc3\x9fSecret1"},
    {"NextToPunctuationOrLatin1Symbols",
     "'Secret1', \xc2\xabSecret1\xc2\xbb",
     {"Secret1"},
     "'********', \xc2\xab********\xc2\xbb"},
    {"BlankPasswordLeavesTheLogAsItWas",
     "Step 1:    done.\n    \n",
     {"", "    ", "\t \t "},
     "Step 1:    done.\n    \n"},
    // "\xc3\xa9t\xc3\xa9" is three characters in five bytes.
    {"ShortPasswordIsNotMasked",
     "Step 1 of abc: abc \xc3\xa9t\xc3\xa9",
     {"abc", "1", "\xc3\xa9t\xc3\xa9"},
     "Step 1 of abc: abc \xc3\xa9t\xc3\xa9"},
    {"FourCharactersAreMasked", "user abcd, sent", {"abcd"}, "user ********, sent"},
    {"LongerOfTwoMaskedWhole",
     "old Secret1 new Secret1x",
     {"Secret1", "Secret1x"},
     "old ******** new ********"},
    {"MaskIsNotTakenForAPassword", "pw Star", {"Star", "****"}, "pw ********"},
};

class LogMaskingTest : public ::testing::TestWithParam<MaskingCase> {};

TEST_P(LogMaskingTest, PasswordMaskedWhereItStandsAsAWord) {
    const MaskingCase& c = GetParam();
    EXPECT_EQ(installer::MaskPasswords(c.log, c.passwords), c.saved);
}

INSTANTIATE_TEST_SUITE_P(Logs, LogMaskingTest, ::testing::ValuesIn(kMaskingCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
