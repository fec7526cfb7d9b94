// The command-line run prints exactly the status log the window shows for the same run:
// the real window, offscreen, against one emulated host, and the program against another
// host started the same way.
#include "installer/window/main_window.h"
#include "tests/cli/cli_fixture.h"
#include "tests/installer/modal_driver.h"
#include "tests/installer/windows_fixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>

namespace {

using namespace test_support;

struct SameRunCase {
    const char* name;
    std::vector<std::string> hostOptions;
    bool wrongPassword;
    bool dialog; // the window ends the run with a message box
};

void PrintTo(const SameRunCase& c, std::ostream* os) {
    *os << c.name;
}

const SameRunCase kSameRunCases[] = {
    {"Applied", {"--save-file", "KDXSUPPT/W_CHKLCKSF"}, false, false},
    {"LockedObject", {"--locked", "APPLIB/ORDERS"}, false, true},
    {"FailedInstall", {"--fail-install", "CPF9898: Product library QGPL is in use."}, false, true},
    {"WrongPassword", {}, true, true},
};

class CliWindowLogTest : public test_support::WindowsTest,
                         public ::testing::WithParamInterface<SameRunCase> {};

TEST_P(CliWindowLogTest, StandardOutputIsTheWindowsStatusLog) {
    const SameRunCase& c = GetParam();
    WriteStandardPackage(dir / "pkg");
    const std::string password = c.wrongPassword ? "NotIt" : "Secret1";

    const auto windowHost = StartHost(c.hostOptions);
    CreateAndShow();
    Form().SystemEdt->setText(QString::fromStdString(HostField(windowHost->Port())));
    Form().UserIdEdt->setText(QStringLiteral("QSECOFR"));
    Form().PassEdt->setText(QString::fromStdString(password));
    std::shared_ptr<test_support::SeenMessageBox> box;
    if (c.dialog)
        box = test_support::WhenMessageBox();
    QTest::mouseClick(Form().ApplyBtn.get(), Qt::LeftButton);
    if (box) {
        ASSERT_TRUE(box->seen);
    }
    std::vector<std::string> expected = Form().LogLines();

    const auto cliHost = StartHost(c.hostOptions);
    const CliRun run = RunCli(PackageCall(dir, HostField(cliHost->Port()), password));
    ASSERT_FALSE(run.hung);

    // The one difference: each run names its own host.
    for (std::string& line : expected)
        if (line == "Connecting to: " + HostField(windowHost->Port()))
            line = "Connecting to: " + HostField(cliHost->Port());
    EXPECT_EQ(run.LogLines(), expected);
}

INSTANTIATE_TEST_SUITE_P(SameRun, CliWindowLogTest, ::testing::ValuesIn(kSameRunCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
