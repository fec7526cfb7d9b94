// The texts of the remote commands and of the IP address field's port suffix.
#include "installer/procedure/apply_commands.h"
#include "installer/procedure/apply_watchdog.h"

#include <gtest/gtest.h>

namespace {

using namespace installer;

TEST(ApplyCommandsTest, LockEntriesSplitAtTheFirstSlash) {
    const LockEntry plain = SplitLockEntry("APPLIB/ORDERS", "*FILE");
    EXPECT_EQ(plain.library, "APPLIB");
    EXPECT_EQ(plain.object, "ORDERS");
    const LockEntry noSlash = SplitLockEntry("ORDERS", "");
    EXPECT_EQ(noSlash.library, "");
    EXPECT_EQ(noSlash.object, "ORDERS");
    const LockEntry twoSlashes = SplitLockEntry("A/B/C", "");
    EXPECT_EQ(twoSlashes.library, "A");
    EXPECT_EQ(twoSlashes.object, "B/C");
    const LockEntry leading = SplitLockEntry("/OBJ", "");
    EXPECT_EQ(leading.library, "");
    EXPECT_EQ(leading.object, "OBJ");
}

TEST(ApplyCommandsTest, ParametersArePaddedOrCutToTenCharacters) {
    EXPECT_EQ(Pad10(""), std::string(10, ' '));
    EXPECT_EQ(Pad10("ORDERS"), "ORDERS    ");
    EXPECT_EQ(Pad10("EXACTLY10C"), "EXACTLY10C");
    EXPECT_EQ(Pad10("ELEVENCHARS"), "ELEVENCHAR");
    EXPECT_EQ(LockCheckCommand("KDXSUPPT", SplitLockEntry("LIB/EXACTLY10C", "*FILE")),
              "rcmd call PGM(KDXSUPPT/W_CHKLCK) PARM(EXACTLY10CLIB       *FILE     )");
}

TEST(ApplyCommandsTest, WrkObjLckLineQuotesValueAndType) {
    EXPECT_EQ(WrkObjLckLine(SplitLockEntry("APPLIB/ORDERS", "*FILE")),
              " \"WRKOBJLCK APPLIB/ORDERS *FILE\"");
    EXPECT_EQ(WrkObjLckLine(SplitLockEntry("APPLIB/ORDERS", "")), " \"WRKOBJLCK APPLIB/ORDERS \"");
}

TEST(ApplyCommandsTest, NameFormatChoices) {
    EXPECT_EQ(NameFormatCommand(0), "");
    EXPECT_EQ(NameFormatCommand(1), "site namefmt 0");
    EXPECT_EQ(NameFormatCommand(2), "site namefmt 1");
    EXPECT_EQ(NameFormatCommand(-1), "");
    EXPECT_EQ(NameFormatCommand(3), "");
}

TEST(ApplyCommandsTest, InstallCommandAppendsReplaceLast) {
    EXPECT_EQ(InstallCommand("U1", "KDXSUPPT", "mylib", false),
              "zlclupd updid(U1) updlib(KDXSUPPT) PRDLIB(mylib) UPDFMT(*SAVF)");
    EXPECT_EQ(InstallCommand("U1", "KDXSUPPT", "QGPL", true),
              "zlclupd updid(U1) updlib(KDXSUPPT) PRDLIB(QGPL) UPDFMT(*SAVF) REPLACE(*YES)");
}

TEST(ApplyCommandsTest, HostAddressTakesAnOptionalPort) {
    HostAddress address;
    ASSERT_TRUE(SplitHostAddress("10.1.2.3", address));
    EXPECT_EQ(address.host, "10.1.2.3");
    EXPECT_EQ(address.port, 21);
    ASSERT_TRUE(SplitHostAddress(" 10.1.2.3 ", address));
    EXPECT_EQ(address.host, " 10.1.2.3 ");
    ASSERT_TRUE(SplitHostAddress("127.0.0.1:2121", address));
    EXPECT_EQ(address.host, "127.0.0.1");
    EXPECT_EQ(address.port, 2121);
    ASSERT_TRUE(SplitHostAddress("host: 65535 ", address));
    EXPECT_EQ(address.host, "host");
    EXPECT_EQ(address.port, 65535);
    ASSERT_TRUE(SplitHostAddress("host:00021", address));
    EXPECT_EQ(address.port, 21);

    for (const char* bad : {"host:", "host:0", "host:65536", "host:99999999999", "host:-1",
                            "host:+21", "host:2 1", "host:21x", "a:b:21x"}) {
        address = {"unchanged", 7};
        EXPECT_FALSE(SplitHostAddress(bad, address)) << bad;
        EXPECT_EQ(address.host, "unchanged") << bad;
    }
}

TEST(ApplyCommandsTest, HostAddressTakesIPv6InBracketsAndTellsWhetherAPortWasTyped) {
    struct Case {
        const char* field;
        const char* host;
        int port;
        bool portGiven;
    };
    for (const Case& c :
         {Case{"[2001:db8::5]", "2001:db8::5", 21, false},
          Case{" [2001:db8::5]:2121 ", "2001:db8::5", 2121, true},
          Case{"[::1]: 990", "::1", 990, true}, Case{"2001:db8::5", "2001:db8::5", 21, false},
          Case{"fe80::1%1", "fe80::1%1", 21, false}, Case{"10.1.2.3", "10.1.2.3", 21, false},
          Case{"10.1.2.3:21", "10.1.2.3", 21, true}}) {
        HostAddress address;
        ASSERT_TRUE(SplitHostAddress(c.field, address)) << c.field;
        EXPECT_EQ(address.host, c.host) << c.field;
        EXPECT_EQ(address.port, c.port) << c.field;
        EXPECT_EQ(address.portGiven, c.portGiven) << c.field;
    }
    for (const char* bad : {"[2001:db8::5", "[]", "[]:21", "[::1]x", "[::1]:", "[::1]:0",
                            "[::1]:65536", "[::1]2121", "2001:db8::5:x"}) {
        HostAddress address{"unchanged", 7, false};
        EXPECT_FALSE(SplitHostAddress(bad, address)) << bad;
        EXPECT_EQ(address.host, "unchanged") << bad;
    }
}

TEST(ApplyCommandsTest, DurationsReadAsOperatorsSayThem) {
    EXPECT_EQ(DurationText(30000), "30 seconds");
    EXPECT_EQ(DurationText(1000), "1 second");
    EXPECT_EQ(DurationText(300), "300 milliseconds");
}

} // namespace
