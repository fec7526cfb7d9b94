// The connection-free parts of the client: reply numbers, continuation, command types,
// the strict integer conversion, the PASV port and the stored name.
#include "ftp/reply_parsing.h"

#include "platform/exception.h"

#include <gtest/gtest.h>

namespace {

std::string ConversionMessage(const std::string& text) {
    try {
        StrToInt(text);
    } catch (const platform::EConvertError& error) {
        return error.Message();
    }
    return "converted";
}

TEST(ReplyNumber, TakesAtMostTenLeadingDigitsAndSaturates) {
    EXPECT_EQ(ReplyNumberOf("230 Logged on\r\n"), 230);
    EXPECT_EQ(ReplyNumberOf("230-first\r\n"), 230);
    EXPECT_EQ(ReplyNumberOf("Hello 230\r\n"), 0);
    EXPECT_EQ(ReplyNumberOf(""), 0);
    EXPECT_EQ(ReplyNumberOf("32767 x"), 32767);
    EXPECT_EQ(ReplyNumberOf("40000 x"), 32767);
    EXPECT_EQ(ReplyNumberOf("99999999999999999999"), 32767);
}

TEST(ReplyShape, OnlyAThreeDigitCodeBeginsAReplyAndOnlyTheSameCodeAndASpaceEndsIt) {
    EXPECT_TRUE(HasReplyCode("220 Ready\r\n"));
    EXPECT_TRUE(HasReplyCode("123"));
    EXPECT_FALSE(HasReplyCode(" 220 no code first\r\n"));
    EXPECT_FALSE(HasReplyCode("22 short\r\n"));
    EXPECT_FALSE(HasReplyCode("abc-"));
    EXPECT_FALSE(HasReplyCode(""));

    EXPECT_TRUE(StartsMultiLineReply("220-Welcome\r\n"));
    EXPECT_FALSE(StartsMultiLineReply("220 Ready\r\n"));
    EXPECT_FALSE(StartsMultiLineReply("abc-"));

    const std::string first = "250-start\r\n";
    EXPECT_TRUE(EndsMultiLineReply(first, "250 done\r\n"));
    EXPECT_TRUE(EndsMultiLineReply(first, "250\r\n"));
    EXPECT_FALSE(EndsMultiLineReply(first, "250-more\r\n"));
    EXPECT_FALSE(EndsMultiLineReply(first, "CPF9801 Object not found.\r\n"));
    EXPECT_FALSE(EndsMultiLineReply(first, "550 another code\r\n"));
    EXPECT_FALSE(EndsMultiLineReply(first, " 250 indented\r\n"));

    EXPECT_EQ(QuotedReply("garbage\r\n"), "garbage");
    EXPECT_EQ(QuotedReply(std::string(100, 'x') + "\r\n"), std::string(80, 'x'));
}

TEST(CommandType, FirstWordDecidesAndOnlyExactPwdIsCurrentDir) {
    EXPECT_EQ(CommandTypeOf("CWD /lib"), ctChangeDir);
    EXPECT_EQ(CommandTypeOf("CWD"), ctChangeDir);
    EXPECT_EQ(CommandTypeOf("CWD "), ctChangeDir);
    EXPECT_EQ(CommandTypeOf("MKD x"), ctMakeDir);
    EXPECT_EQ(CommandTypeOf("DELE x"), ctDelete);
    EXPECT_EQ(CommandTypeOf("RMD x"), ctRemoveDir);
    EXPECT_EQ(CommandTypeOf("PWD"), ctCurrentDir);
    EXPECT_EQ(CommandTypeOf("pwd"), ctDoCommand);
    EXPECT_EQ(CommandTypeOf("PWD "), ctDoCommand);
    EXPECT_EQ(CommandTypeOf("cwd x"), ctDoCommand);
    EXPECT_EQ(CommandTypeOf("CWDX"), ctDoCommand);
    EXPECT_EQ(CommandTypeOf("rcmd CALL PGM(X)"), ctDoCommand);
    EXPECT_EQ(CommandTypeOf(""), ctDoCommand);
}

TEST(StrToInt, AcceptsSpacesAndSignThenDigitsToTheEnd) {
    EXPECT_EQ(StrToInt("137"), 137);
    EXPECT_EQ(StrToInt("  19"), 19);
    EXPECT_EQ(StrToInt("+5"), 5);
    EXPECT_EQ(StrToInt(" -5"), -5);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
}

TEST(StrToInt, RefusesEverythingElseWithTheTextInTheMessage) {
    EXPECT_EQ(ConversionMessage(""), "'' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("137\r\n"), "'137\r\n' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("19 "), "'19 ' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("-"), "'-' is not a valid integer value");
    EXPECT_EQ(ConversionMessage(" "), "' ' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("1a"), "'1a' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("2147483648"), "'2147483648' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("99999999999999999999"),
              "'99999999999999999999' is not a valid integer value");
}

TEST(PassivePort, FifthAndSixthFieldsGiveThePort) {
    EXPECT_EQ(PassivePort("227 Entering Passive Mode (10,0,0,5,19,137)\r\n"), 5001);
    EXPECT_EQ(PassivePort("227 Entering Passive Mode (10, 0, 0, 5, 19, 137)\r\n"), 5001);
    EXPECT_EQ(PassivePort("227 =10,0,0,5,0,21) trailing text\r\n"), 21);
    // Not held to bytes: the connection uses the low 16 bits of the sum.
    EXPECT_EQ(PassivePort("227 (1,2,3,4,256,300)\r\n"), 256 * 256 + 300);
}

TEST(PassivePort, MissingParenthesisOrNumbersFailTheConversion) {
    try {
        PassivePort("227 Entering Passive Mode (10,0,0,5,19,137\r\n");
        FAIL() << "no conversion error";
    } catch (const platform::EConvertError& error) {
        EXPECT_EQ(error.Message(), "'' is not a valid integer value");
    }
    try {
        PassivePort("227 Entering Passive Mode (10,0,0,5,x9,137)\r\n");
        FAIL() << "no conversion error";
    } catch (const platform::EConvertError& error) {
        EXPECT_EQ(error.Message(), "'x9' is not a valid integer value");
    }
    EXPECT_THROW(PassivePort("227 Entering Passive Mode\r\n"), platform::EConvertError);
}

TEST(ExtendedPassivePort, OnlyAPortBetweenFourEqualDelimitersIsTaken) {
    EXPECT_EQ(ExtendedPassivePort("229 Entering Extended Passive Mode (|||6446|)\r\n"), 6446);
    EXPECT_EQ(ExtendedPassivePort("229 (!!!1!)\r\n"), 1);
    EXPECT_EQ(ExtendedPassivePort("229 ok (|||65535|) more\r\n"), 65535);
    struct Bad {
        const char* reply;
        const char* text; // what the error quotes
    };
    for (const Bad& bad :
         {Bad{"229 Entering Extended Passive Mode\r\n", ""}, Bad{"229 (|||6446)\r\n", ""},
          Bad{"229 (||6446|)\r\n", ""}, Bad{"229 (|1|2|6446|)\r\n", ""},
          Bad{"229 (1116441)\r\n", ""}, Bad{"229 (|||0|)\r\n", "0"},
          Bad{"229 (|||65536|)\r\n", "65536"}, Bad{"229 (|||+6446|)\r\n", "+6446"},
          Bad{"229 (||| 80|)\r\n", " 80"}, Bad{"229 (||||)\r\n", ""}}) {
        try {
            ExtendedPassivePort(bad.reply);
            ADD_FAILURE() << bad.reply;
        } catch (const platform::EConvertError& error) {
            EXPECT_EQ(error.Message(),
                      std::string("'") + bad.text + "' is not a valid integer value")
                << bad.reply;
        }
    }
}

TEST(RemoteName, NamePartAfterTheLastSeparator) {
    EXPECT_EQ(RemoteNameOf("C:\\Update\\W_CHKLCKSF.SVF"), "W_CHKLCKSF.SVF");
    EXPECT_EQ(RemoteNameOf("C:UPD.SVF"), "UPD.SVF");
    EXPECT_EQ(RemoteNameOf("/home/op/update/UPD.SVF"), "UPD.SVF");
    EXPECT_EQ(RemoteNameOf("UPD.SVF"), "UPD.SVF");
    EXPECT_EQ(RemoteNameOf("dir/"), "");
}

} // namespace
