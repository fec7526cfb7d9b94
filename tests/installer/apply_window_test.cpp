// The apply procedure through the real windows, offscreen, against the host emulator: what
// the operator sees in the status log, the dialogs, and the Close button that reads Stop
// while a run is busy.
#include "installer/window/main_window.h"
#include "installer/window/upload_progress_bar.h"
#include "tests/installer/modal_driver.h"
#include "tests/installer/windows_fixture.h"
#include "tests/support/host_emulator.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using test_support::WhenMessageBox;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

class ApplyWindowTest : public test_support::WindowsTest {
protected:
    void StartHost(std::vector<std::string> options = {}) {
        test_support::HostEmulatorConfig config;
        config.options = std::move(options);
        host = std::make_unique<test_support::HostEmulator>(config);
    }
    void Package() {
        Descriptor("Update=MYUPD\r\nFilename=MYUPD.SVF\r\nLock1=APPLIB/ORDERS\r\nType1=*FILE\r\n");
        Write("pkg/W_CHKLCKSF.SVF", std::string(5000, '\x5a'));
        Write("pkg/MYUPD.SVF", std::string(90000, '\xa5'));
    }
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
    }
    void Fill() {
        Form().SystemEdt->setText(
            QString::fromStdString("127.0.0.1:" + std::to_string(host->Port())));
        Form().UserIdEdt->setText(QStringLiteral("QSECOFR"));
        Form().PassEdt->setText(QString::fromStdString(host->Password()));
    }
    void ClickApply() { QTest::mouseClick(Form().ApplyBtn.get(), Qt::LeftButton); }

    std::unique_ptr<test_support::HostEmulator> host;
};

TEST_F(ApplyWindowTest, SuccessfulRunShowsEveryStepInTheStatusLog) {
    StartHost({"--save-file", "KDXSUPPT/W_CHKLCKSF"});
    Package();
    CreateAndShow();
    Fill();
    ClickApply();

    const std::string ip = "127.0.0.1:" + std::to_string(host->Port());
    EXPECT_THAT(Form().LogLines(),
                ElementsAre(" ", "Connecting to: " + ip, " ", "Setting FTP mode to binary", " ",
                            "Changing current directory to KDXSUPPT", "Changing job to log errors",
                            "Transferring lock check...", "Restoring lock check...", " ",
                            "Checking for locks on object: APPLIB/ORDERS",
                            "Save file MYUPD not found in KDXSUPPT.  It will be created now.",
                            "Continuing transfer.", "Transferring update...", " ",
                            "Installing update.", "Update MYUPD successfully applied.", " ",
                            "The Apply Update process is complete."));
    EXPECT_EQ(host->StoredFile("KDXSUPPT", "MYUPD"), std::string(90000, '\xa5'));
    EXPECT_EQ(host->Commands().back(), "QUIT");
    EXPECT_TRUE(Form().isEnabled());
    EXPECT_TRUE(Form().ApplyBtn->isEnabled());
    EXPECT_EQ(Form().CancelBtn->text(), "Close");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(Form().UploadProgressBar->isVisible()); // shown only while a run uploads
}

TEST_F(ApplyWindowTest, CharacterBeyondLatin1IsRefusedBeforeAnythingIsSent) {
    StartHost();
    Package();
    CreateAndShow();
    Fill();
    Form().PassEdt->setText(QString::fromUtf8("Secret\xe2\x82\xac"));
    const auto message = WhenMessageBox();
    ClickApply();
    ASSERT_TRUE(message->seen);
    EXPECT_EQ(message->text,
              "The Password contains a character that cannot be sent to the AS/400.");
    EXPECT_THAT(host->Commands(), ::testing::IsEmpty());
    EXPECT_THAT(Form().LogLines(), ::testing::IsEmpty());
}

TEST_F(ApplyWindowTest, SavedLogNeverHoldsThePasswordEvenWhenTheHostEchoesIt) {
    StartHost({"--fail-install", "CPF9898: Profile QSECOFR password Secret1 expired."});
    Package();
    CreateAndShow();
    Fill();
    ASSERT_EQ(host->Password(), "Secret1");
    const auto dialog = WhenMessageBox();
    ClickApply();
    ASSERT_TRUE(dialog->seen);
    EXPECT_THAT(Form().LogLines(), Contains(::testing::HasSubstr("password Secret1 expired")));

    const std::filesystem::path saved = dir / "run.log";
    ASSERT_TRUE(Form().WriteLog(QString::fromStdString(saved)));
    std::ifstream in(saved, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_THAT(text, ::testing::HasSubstr("password ******** expired"));
    EXPECT_THAT(text, Not(::testing::HasSubstr("Secret1")));
    EXPECT_EQ(std::filesystem::status(saved).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(ApplyWindowTest, LockedObjectEndsWithTheErrorDialog) {
    StartHost({"--locked", "APPLIB/ORDERS"});
    Package();
    CreateAndShow();
    Fill();
    const auto dialog = WhenMessageBox();
    ClickApply();

    ASSERT_TRUE(dialog->seen);
    EXPECT_EQ(dialog->title, "Error");
    EXPECT_EQ(dialog->icon, QMessageBox::Critical);
    EXPECT_EQ(dialog->text,
              "Errors occurred.  Please check messages listed to determine the cause.");
    const std::vector<std::string> log = Form().LogLines();
    EXPECT_THAT(log, Contains("The object APPLIB/ORDERS is locked."));
    EXPECT_EQ(log.back(), "check previous messages to determine the cause.");
    EXPECT_THAT(host->Commands(), Not(Contains(::testing::HasSubstr("zlclupd"))));
}

TEST_F(ApplyWindowTest, CloseReadsStopWhileBusyAndStopsASilentHost) {
    StartHost({"--silent-on", "CHGJOB"});
    Package();
    CreateAndShow();
    Fill();

    bool sawBusyWindow = false;
    const auto report = std::make_shared<test_support::SeenMessageBox>();
    // Once the host has gone silent, look at the busy window, try its close box, then Stop.
    std::function<void(int)> whenSilent = [&](int attemptsLeft) {
        const std::vector<std::string> log = Form().LogLines();
        if (log.empty() || log.back() != "Changing job to log errors") {
            if (attemptsLeft > 0)
                QTimer::singleShot(10, [&, attemptsLeft] { whenSilent(attemptsLeft - 1); });
            else
                ADD_FAILURE() << "the run never reached the silent command";
            return;
        }
        sawBusyWindow = Form().CancelBtn->text() == "Stop" && Form().CancelBtn->isEnabled() &&
                        !Form().ApplyBtn->isEnabled() && !Form().SystemEdt->isEnabled() &&
                        !Form().Button1->isEnabled() && QApplication::overrideCursor() != nullptr;
        Form().close(); // the close box takes no input while busy
        EXPECT_TRUE(Form().isVisible());
        test_support::WhenModal([report](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            report->seen = true;
            report->title = box->windowTitle();
            report->text = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        QTest::mouseClick(Form().CancelBtn.get(), Qt::LeftButton);
    };
    QTimer::singleShot(10, [&] { whenSilent(2000); });
    ClickApply();

    EXPECT_TRUE(sawBusyWindow);
    ASSERT_TRUE(report->seen);
    EXPECT_EQ(report->title, "Apply Update");
    EXPECT_EQ(report->text, "The Apply Update process was stopped by the operator.");
    EXPECT_EQ(Form().LogLines().back(), "The Apply Update process was stopped by the operator.");
    EXPECT_EQ(Form().CancelBtn->text(), "Close");
    EXPECT_TRUE(Form().ApplyBtn->isEnabled());
    EXPECT_THAT(host->Commands(), Not(Contains("QUIT")));

    // Close now closes the window again.
    QTest::mouseClick(Form().CancelBtn.get(), Qt::LeftButton);
    EXPECT_FALSE(Form().isVisible());
}

} // namespace
