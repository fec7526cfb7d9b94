#include "installer/procedure/connection_options.h"
#include "installer/procedure/program_values.h"
#include "installer/procedure/remembered_settings.h"
#include "platform/exception.h"
#include "platform/paths.h"
#include "tests/support/helper_process.h"
#include "tests/support/temporary_directory.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using test_support::ReadFile;
using test_support::TemporaryDirectory;
using test_support::WriteFile;

class StartupValuesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir / "pkg");
        platform::SetSettingsDirectory(dir / "config");
    }
    void TearDown() override { platform::SetSettingsDirectory(""); }

    void Descriptor(const std::string& defaults) {
        WriteFile(dir / "pkg/update.Ini", "[Defaults]\r\n" + defaults);
    }
    void Remembered(const std::string& system) {
        std::filesystem::create_directories(dir / "config");
        WriteFile(dir / "config/KDXInst.Ini", "[System]\n" + system);
    }
    installer::ProgramValues Load() {
        return installer::LoadProgramValues(dir / "pkg/apply-update");
    }
    installer::FieldTexts Texts() { return installer::ReadFieldTexts(*Load().descriptor); }

    TemporaryDirectory dir;
};

TEST_F(StartupValuesTest, MissingDescriptorGivesEveryDefault) {
    const installer::ProgramValues values = Load();
    EXPECT_EQ(values.executableDirectory, dir / "pkg/");
    EXPECT_EQ(values.descriptor->FileName(), dir / "pkg/update.Ini");
    EXPECT_EQ(values.shownUpdateId, "*NONE");
    EXPECT_EQ(installer::CaptionFor(values.shownUpdateId), "Apply Update: *NONE");
    EXPECT_EQ(values.supportLibrary, "KDXSUPPT");
    const installer::FieldTexts texts = Texts();
    EXPECT_EQ(texts.description, "AS/400 Software Update");
    EXPECT_EQ(texts.targetLibrary, "QGPL");
    EXPECT_EQ(texts.userId, "QSECOFR");
    // Nothing remembered yet either: the remembered-settings defaults show.
    EXPECT_EQ(texts.ipAddress, "192.168.0.100");
}

TEST_F(StartupValuesTest, SupportLibraryIsTrimmedAndUpperCasedTargetLibraryIsNot) {
    Descriptor("SPTLIB=\" mylib \"\r\nTgtlib= mylib \r\n");
    EXPECT_EQ(Load().supportLibrary, "MYLIB");
    EXPECT_EQ(Texts().targetLibrary, "mylib");

    Descriptor("SPTLIB=\"\t\x01lib_\xe9x2\x1f \"\r\n");
    EXPECT_EQ(Load().supportLibrary, "LIB_\xe9X2"); // only a to z change case
}

TEST_F(StartupValuesTest, UpdatePresentButEmptyIsNotMissing) {
    Descriptor("Update=\r\n");
    const installer::ProgramValues values = Load();
    EXPECT_EQ(values.shownUpdateId, "");
    EXPECT_EQ(installer::CaptionFor(values.shownUpdateId), "Apply Update: ");
}

TEST_F(StartupValuesTest, QuotedValuesAreReadWithoutQuotes) {
    Descriptor("Update=\"UPD0042\"\r\nDescription='Fix pack 42'\r\nUserid=\"QPGMR\"\r\n"
               "IPAddress=\"10.1.2.3\"\r\n");
    EXPECT_EQ(Load().shownUpdateId, "UPD0042");
    const installer::FieldTexts texts = Texts();
    EXPECT_EQ(texts.description, "Fix pack 42");
    EXPECT_EQ(texts.userId, "QPGMR");
    EXPECT_EQ(texts.ipAddress, "10.1.2.3");
}

TEST_F(StartupValuesTest, DescriptorKeysWinRememberedValuesFillTheGaps) {
    Remembered("IP=10.9.9.9\nUser=OPERATOR\n");
    EXPECT_EQ(Texts().ipAddress, "10.9.9.9");
    EXPECT_EQ(Texts().userId, "OPERATOR");

    Descriptor("IPAddress=10.1.1.1\r\nUserid=PKGUSER\r\n");
    EXPECT_EQ(Texts().ipAddress, "10.1.1.1");
    EXPECT_EQ(Texts().userId, "PKGUSER");

    // Present but empty in the descriptor still wins.
    Descriptor("IPAddress=\r\nUserid=\r\n");
    EXPECT_EQ(Texts().ipAddress, "");
    EXPECT_EQ(Texts().userId, "");
}

TEST_F(StartupValuesTest, ConnectionChoicesFromDescriptorThenRememberedThenDefaults) {
    using installer::DataConnectionChoice;
    using installer::SecurityChoice;
    const auto options = [this] { return installer::ReadStartOptions(*Load().descriptor); };
    EXPECT_EQ(options().security, SecurityChoice::None);
    EXPECT_EQ(options().dataConnection, DataConnectionChoice::Auto);
    Remembered("Security=ImplicitTLS\nDataConnection=Passive\n");
    EXPECT_EQ(options().security, SecurityChoice::ImplicitTls);
    EXPECT_EQ(options().dataConnection, DataConnectionChoice::Passive);
    Descriptor("Security= tls \nDataConnection=\n");
    EXPECT_EQ(options().security, SecurityChoice::Tls);
    EXPECT_EQ(options().dataConnection, DataConnectionChoice::Passive); // empty: not chosen
    Descriptor("Security=NONE\nDataConnection=active\n");
    EXPECT_EQ(options().security, SecurityChoice::None);
    EXPECT_EQ(options().dataConnection, DataConnectionChoice::Active);
}

TEST_F(StartupValuesTest, ConnectionChoiceThatNamesNothingIsRefusedByName) {
    struct Case {
        const char* defaults;
        const char* message;
    };
    for (const Case& c : {
             Case{"Security=SSL\n", "The update descriptor's Security value \"SSL\" is not one "
                                    "of None, TLS or ImplicitTLS."},
             Case{"DataConnection=PORT\n", "The update descriptor's DataConnection value "
                                           "\"PORT\" is not one of Active, Passive or Auto."},
         }) {
        Descriptor(c.defaults);
        try {
            installer::ReadStartOptions(*Load().descriptor);
            ADD_FAILURE() << "no error for " << c.defaults;
        } catch (const installer::EDescriptorValue& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
    // A remembered value that names nothing is no choice at all.
    Descriptor("");
    Remembered("Security=garbage\n");
    EXPECT_EQ(installer::ReadStartOptions(*Load().descriptor).security,
              installer::SecurityChoice::None);
}

TEST_F(StartupValuesTest, LaterDescriptorReadsSeeEditsStartUpValuesDoNot) {
    Descriptor("Update=FIRST\r\nFilename=a.svf\r\n");
    const installer::ProgramValues values = Load();
    Descriptor("Update=SECOND\r\nFilename=b.svf\r\n");
    EXPECT_EQ(values.shownUpdateId, "FIRST");
    EXPECT_EQ(values.descriptor->ReadString(installer::kDefaultsSection, installer::kUpdateKey, ""),
              "SECOND");
    EXPECT_EQ(values.descriptor->ReadString(installer::kDefaultsSection, installer::kFilenameKey,
                                            installer::kDefaultFilename),
              "b.svf");
}

TEST_F(StartupValuesTest, RememberSettingsWritesIPThenUserAndKeepsTheRest) {
    Remembered("IP=old\nOther=keep\n[Elsewhere]\nK=v\n");
    installer::RememberSettings("10.2.3.4:2121", "QPGMR");
    EXPECT_EQ(ReadFile(dir / "config/KDXInst.Ini"),
              "[System]\nIP=10.2.3.4:2121\nOther=keep\nUser=QPGMR\n[Elsewhere]\nK=v\n");
    const installer::RememberedSettings read = installer::ReadRememberedSettings();
    EXPECT_EQ(read.ip, "10.2.3.4:2121");
    EXPECT_EQ(read.user, "QPGMR");
}

TEST_F(StartupValuesTest, RefusedRememberReportsTheBareName) {
    WriteFile(dir / "config", "a file where the directory should be");
    try {
        installer::RememberSettings("1.2.3.4", "QSECOFR");
        ADD_FAILURE() << "no error";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "Unable to write to KDXInst.Ini");
    }
}

// The real start-up code in its own program, copied into a package folder and started from
// elsewhere, still reads the descriptor beside itself.
TEST_F(StartupValuesTest, ProgramStartedFromAnotherDirectoryFindsItsDescriptor) {
    std::filesystem::copy_file(STARTUP_PROBE_PATH, dir / "pkg/startup_probe");
    Descriptor("Update=UPD7\r\nSPTLIB=kdxlib\r\nDescription=Probe\r\nTgtlib=prd\r\n"
               "Userid=QPGMR\r\nIPAddress=127.0.0.1\r\n");
    std::filesystem::create_directory(dir / "elsewhere");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
    // Started once by full path and once by a path relative to another working directory.
    for (const std::string& program :
         {dir / "pkg/startup_probe", std::string("../pkg/startup_probe")}) {
        QProcess probe;
        test_support::InheritOnlyStandardStreams(probe);
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.setWorkingDirectory(QString::fromStdString(dir / "elsewhere"));
        probe.setProcessEnvironment(environment);
        probe.start(QString::fromStdString(program), {});
        ASSERT_TRUE(probe.waitForFinished(60000))
            << program << ": " << probe.errorString().toStdString();
        ASSERT_EQ(probe.exitStatus(), QProcess::NormalExit) << program;
        ASSERT_EQ(probe.exitCode(), 0) << program;
        EXPECT_EQ(probe.readAllStandardOutput().toStdString(),
                  "directory=" + (dir / "pkg/") +
                      "\ncaption=Apply Update: UPD7\nsptlib=KDXLIB\n"
                      "description=Probe\ntgtlib=prd\nuserid=QPGMR\n"
                      "ip=127.0.0.1\n");
    }
}

} // namespace
