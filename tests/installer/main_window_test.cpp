#include "installer/window/main_window.h"
#include "installer/window/upload_progress_bar.h"
#include "platform/exception.h"
#include "tests/installer/modal_driver.h"
#include "tests/installer/windows_fixture.h"

#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

using installer::ApplyControl;
using installer::ApplyField;
using Lines = std::vector<std::string>;
using MainWindowTest = test_support::WindowsTest;
using test_support::WhenMessageBox;

TEST_F(MainWindowTest, CaptionAndFieldsComeFromTheDescriptor) {
    Descriptor("Update=\"UPD0042\"\r\nDescription=<b>Fix</b> & more\r\nTgtlib=mylib\r\n"
               "Userid=QPGMR\r\nIPAddress=10.1.2.3\r\nSPTLIB= kdx \r\n");
    Create();
    EXPECT_EQ(Form().windowTitle(), "Apply Update: UPD0042");
    // Descriptor text is shown as it is, never read as markup.
    EXPECT_EQ(Form().UpdName->text(), "<b>Fix</b> & more");
    EXPECT_EQ(Form().UpdName->textFormat(), Qt::PlainText);
    EXPECT_EQ(Form().FieldText(ApplyField::TargetLibEdt), "mylib");
    EXPECT_EQ(Form().FieldText(ApplyField::UserIdEdt), "QPGMR");
    EXPECT_EQ(Form().FieldText(ApplyField::SystemEdt), "10.1.2.3");
    EXPECT_EQ(Form().FieldText(ApplyField::PassEdt), "");
    EXPECT_EQ(Form().PassEdt->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(Form().ReplaceChecked());
    EXPECT_EQ(Form().Program().supportLibrary, "KDX");
    EXPECT_EQ(Form().Program().shownUpdateId, "UPD0042");
    EXPECT_TRUE(Form().LogLines().empty());
}

TEST_F(MainWindowTest, MissingDescriptorShowsTheDefaults) {
    Create();
    EXPECT_EQ(Form().windowTitle(), "Apply Update: *NONE");
    EXPECT_EQ(Form().UpdName->text(), "AS/400 Software Update");
    EXPECT_EQ(Form().FieldText(ApplyField::TargetLibEdt), "QGPL");
    EXPECT_EQ(Form().FieldText(ApplyField::UserIdEdt), "QSECOFR");
    EXPECT_EQ(Form().FieldText(ApplyField::SystemEdt), "192.168.0.100");
}

TEST_F(MainWindowTest, ApplyIsTheOnlyDefaultButtonAndTabOrderIsKept) {
    Create();
    EXPECT_TRUE(Form().ApplyBtn->isDefault());
    for (QPushButton* other :
         {Form().CancelBtn.get(), Form().Button1.get(), Form().ReadmeBtn.get()})
        EXPECT_FALSE(other->isDefault());

    const QWidget* expected[] = {Form().SystemEdt.get(),  Form().UserIdEdt.get(),
                                 Form().PassEdt.get(),    Form().TargetLibEdt.get(),
                                 Form().Replaceopt.get(), Form().ApplyBtn.get(),
                                 Form().CancelBtn.get(),  Form().StatusMemo.get(),
                                 Form().Button1.get(),    Form().ReadmeBtn.get()};
    QWidget* at = Form().SystemEdt.get();
    for (std::size_t i = 1; i < std::size(expected); ++i) {
        do {
            at = at->nextInFocusChain();
        } while (at->focusPolicy() == Qt::NoFocus || at->parentWidget() != &Form());
        EXPECT_EQ(at, expected[i]) << "tab stop " << i;
    }
}

TEST_F(MainWindowTest, EnterInEachEditPressesApply) {
    Create();
    int applied = 0;
    Form().SetApplyProcedure([&] { ++applied; });
    Form().show();
    int expected = 0;
    for (QLineEdit* edit : {Form().SystemEdt.get(), Form().UserIdEdt.get(), Form().PassEdt.get(),
                            Form().TargetLibEdt.get()}) {
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(applied, ++expected) << edit->geometry().y();
    }
    // Esc is bound to nothing: the window stays open.
    QTest::keyClick(Form().SystemEdt.get(), Qt::Key_Escape);
    EXPECT_TRUE(Form().isVisible());
}

TEST_F(MainWindowTest, AddLineWritesBlankLinesThenTheMessage) {
    Create();
    Form().AddLine("first", 1);
    EXPECT_EQ(Form().LogLines(), (Lines{" ", "first"}));
    Form().AddLine("second", 0);
    Form().AddLine("third", -3);
    Form().AddLine("", 2);
    EXPECT_EQ(Form().LogLines(), (Lines{" ", "first", "second", "third", " ", " ", ""}));

    Form().ClearLog();
    EXPECT_TRUE(Form().LogLines().empty());
    Form().AddLine("", 0);
    Form().AddLine("after empty", 0);
    EXPECT_EQ(Form().LogLines(), (Lines{"", "after empty"}));

    // Text typed after the last line stays a line of its own; a message with line breaks
    // becomes several lines; Latin-1 bytes survive.
    Form().StatusMemo->moveCursor(QTextCursor::End);
    Form().StatusMemo->insertPlainText("typed");
    Form().AddLine("550 Error\r\nsecond\rthird caf\xe9", 0);
    EXPECT_EQ(Form().LogLines(),
              (Lines{"", "after empty", "typed", "550 Error", "second", "third caf\xe9"}));
}

TEST_F(MainWindowTest, ErrorsLeavingApplyReachTheTopLevelReportAndTheProgramGoesOn) {
    Create();
    int runs = 0;
    Form().SetApplyProcedure([&] {
        ++runs;
        if (runs == 1)
            throw platform::Exception("Connection closed by server");
        if (runs == 2)
            throw platform::Exception("550 <b>No</b> such file\r\n");
        throw std::runtime_error("internal");
    });
    Form().show();

    auto first = WhenMessageBox();
    Form().ApplyBtn->click();
    ASSERT_TRUE(first->seen);
    EXPECT_EQ(first->title, "Apply Update");
    EXPECT_EQ(first->text, "Connection closed by server.");
    EXPECT_EQ(first->icon, QMessageBox::Critical);
    EXPECT_EQ(first->buttons, 1);

    auto second = WhenMessageBox();
    Form().ApplyBtn->click();
    ASSERT_TRUE(second->seen);
    EXPECT_EQ(second->text, "550 <b>No</b> such file\r\n");
    EXPECT_EQ(second->format, Qt::PlainText);

    auto third = WhenMessageBox();
    Form().ApplyBtn->click();
    ASSERT_TRUE(third->seen);
    EXPECT_EQ(third->text, "internal.");
    EXPECT_EQ(runs, 3);
    EXPECT_TRUE(Form().isVisible());
}

TEST_F(MainWindowTest, MessageAndErrorDialogs) {
    Create();
    auto message = WhenMessageBox();
    Form().ShowMessage("You must specify a valid IP Address");
    ASSERT_TRUE(message->seen);
    EXPECT_EQ(message->title, "Apply Update");
    EXPECT_EQ(message->text, "You must specify a valid IP Address");
    EXPECT_EQ(message->icon, QMessageBox::NoIcon);
    EXPECT_EQ(message->buttons, 1);

    auto error = WhenMessageBox();
    Form().ErrorDialog("Errors occurred.  Please check messages listed to determine the cause.");
    ASSERT_TRUE(error->seen);
    EXPECT_EQ(error->title, "Error");
    EXPECT_EQ(error->text,
              "Errors occurred.  Please check messages listed to determine the cause.");
    EXPECT_EQ(error->icon, QMessageBox::Critical);
    EXPECT_EQ(error->buttons, 1);
}

TEST_F(MainWindowTest, DisablingForApplyAndEnablingAgain) {
    CreateAndShow();
    Form().SetBusyCursor();
    Form().SetBusyCursor();
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    Form().SetWindowEnabled(false);
    for (auto control : {ApplyControl::SystemEdt, ApplyControl::UserIdEdt, ApplyControl::PassEdt,
                         ApplyControl::TargetLibEdt, ApplyControl::Replaceopt,
                         ApplyControl::ApplyBtn, ApplyControl::CancelBtn})
        Form().SetControlEnabled(control, false);
    EXPECT_FALSE(Form().Button1->isEnabled());
    EXPECT_TRUE(Form().UploadProgressBar->isEnabled()); // takes no input; stays readable

    // A disabled window ignores its close box.
    EXPECT_FALSE(Form().close());
    EXPECT_TRUE(Form().isVisible());
    EXPECT_NE(Form().Program().descriptor, nullptr);

    Form().SetNormalCursor();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    Form().SetWindowEnabled(true);
    EXPECT_TRUE(Form().Button1->isEnabled());
    EXPECT_FALSE(Form().ApplyBtn->isEnabled()); // until enabled one by one
    Form().SetControlEnabled(ApplyControl::ApplyBtn, true);
    EXPECT_TRUE(Form().ApplyBtn->isEnabled());
    EXPECT_FALSE(Form().ReadmeBtn->isEnabled()); // no readme: stays disabled throughout
}

TEST_F(MainWindowTest, CloseReleasesTheDescriptorAndEndsTheEventLoop) {
    CreateAndShow();
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        ADD_FAILURE() << "the event loop did not end";
        QApplication::exit(1);
    });
    watchdog.start(20000);
    QTimer::singleShot(0, Form().CancelBtn.get(), [this] { Form().CancelBtn->click(); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(Form().isVisible());
    EXPECT_EQ(Form().Program().descriptor, nullptr);
}

TEST_F(MainWindowTest, ResetRereadsTheFourValues) {
    Descriptor("Description=Old\r\nTgtlib=OLDLIB\r\nUserid=OLDUSER\r\nIPAddress=1.1.1.1\r\n");
    Create();
    Form().SystemEdt->setText("typed");
    Descriptor("Description=New\r\nTgtlib=NEWLIB\r\nUserid=NEWUSER\r\nIPAddress=2.2.2.2\r\n"
               "Update=LATER\r\n");
    Form().Reset1Click();
    EXPECT_EQ(Form().UpdName->text(), "New");
    EXPECT_EQ(Form().FieldText(ApplyField::TargetLibEdt), "NEWLIB");
    EXPECT_EQ(Form().FieldText(ApplyField::UserIdEdt), "NEWUSER");
    EXPECT_EQ(Form().FieldText(ApplyField::SystemEdt), "2.2.2.2");
    EXPECT_EQ(Form().windowTitle(), "Apply Update: *NONE"); // start-up values stay
}

TEST_F(MainWindowTest, ExecutableLocationAndFileExistence) {
    Create();
    EXPECT_EQ(Form().ExecutablePath(), dir / "pkg/apply-update");
    EXPECT_EQ(Form().ExecutableDirectory(), dir / "pkg/");
    test_support::WriteFile(dir / "pkg/W_CHKLCKSF.SVF", "x");
    EXPECT_TRUE(Form().FileExists(dir / "pkg/W_CHKLCKSF.SVF"));
    EXPECT_FALSE(Form().FileExists(dir / "pkg"));
}

TEST_F(MainWindowTest, EveryEditIsNamedByItsCaptionAndTheProgressIsDescribed) {
    Create();
    const std::pair<QLabel*, QWidget*> captioned[] = {
        {Form().Label1.get(), Form().SystemEdt.get()},
        {Form().Label2.get(), Form().UserIdEdt.get()},
        {Form().Label3.get(), Form().PassEdt.get()},
        {Form().Label7.get(), Form().TargetLibEdt.get()},
        {Form().Label4.get(), Form().StatusMemo.get()}};
    for (const auto& [label, edit] : captioned) {
        EXPECT_EQ(label->buddy(), edit) << label->text().toStdString();
        EXPECT_EQ(edit->accessibleName(), label->text());
    }
    EXPECT_FALSE(Form().UploadProgressBar->accessibleDescription().isEmpty());
    EXPECT_EQ(Form().UploadProgressBar->focusPolicy(), Qt::NoFocus); // not a tab stop
}

TEST_F(MainWindowTest, OnlyFieldsWithinLatin1CanBeSent) {
    Create();
    const std::pair<QString, bool> cases[] = {
        {QStringLiteral("QSECOFR"), true},
        {QString::fromLatin1("caf\xe9 \xff"), true},
        {QString::fromUtf8("pa\xe2\x82\xacss"), false},  // the euro sign
        {QString::fromUtf8("\xc4\x80"), false},          // U+0100, just beyond
        {QString::fromUtf8("x\xf0\x9f\x98\x80"), false}, // beyond 16 bits
    };
    for (const auto& [text, sendable] : cases) {
        Form().PassEdt->setText(text);
        EXPECT_EQ(Form().FieldSendable(ApplyField::PassEdt), sendable) << text.toStdString();
    }
    EXPECT_TRUE(Form().FieldSendable(ApplyField::SystemEdt));
}

TEST_F(MainWindowTest, UploadProgressShowsItsTextAsGivenBesideStatusAndGoesAgain) {
    CreateAndShow();
    installer::TUploadProgressBar& bar = *Form().UploadProgressBar;
    EXPECT_FALSE(bar.isVisible());

    Form().ShowUploadProgress(273, "27%, 1.2 GB of 4.4 GB, 112 MB/s, 30 s left");
    EXPECT_TRUE(bar.isVisible());
    EXPECT_EQ(bar.value(), 273);
    EXPECT_EQ(bar.text(), "27%, 1.2 GB of 4.4 GB, 112 MB/s, 30 s left");
    // The bar's own placeholders mean nothing in a file name.
    Form().ShowUploadProgress(0, "Sending %p%v%m.SVF...");
    EXPECT_EQ(bar.text(), "Sending %p%v%m.SVF...");
    // A name too long for the bar loses its middle.
    const std::string name(200, 'N');
    Form().ShowUploadProgress(1000, "Sent " + name + "X.SVF: 4.4 GB in 39 s, 113 MB/s");
    EXPECT_TRUE(bar.text().startsWith("Sent NNN")) << bar.text().toStdString();
    EXPECT_TRUE(bar.text().endsWith("113 MB/s")) << bar.text().toStdString();
    EXPECT_LE(bar.fontMetrics().horizontalAdvance(bar.text()), bar.TextRoom());

    // It lies in the free space: over no other control.
    for (QWidget* other : Form().findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other != &bar && !other->isWindow()) {
            EXPECT_FALSE(other->geometry().intersects(bar.geometry()))
                << other->metaObject()->className();
        }
    }
    Form().HideUploadProgress();
    EXPECT_FALSE(bar.isVisible());
}

TEST_F(MainWindowTest, ConnectionSecurityStandsAtTheRowsEndAndTheProgressKeepsTheRest) {
    CreateAndShow();
    installer::TUploadProgressBar& bar = *Form().UploadProgressBar;
    QLabel& label = *Form().SecurityLbl;
    const QRect row = bar.geometry();
    EXPECT_FALSE(label.isVisible());
    for (const char* state : {"Not secured", "Secured (TLS 1.3)"}) {
        Form().ShowConnectionSecurity(state);
        Form().ShowUploadProgress(273, "27%, 1.2 GB of 4.4 GB, 112 MB/s, 30 s left");
        EXPECT_TRUE(label.isVisible());
        EXPECT_EQ(label.text(), state);
        EXPECT_GE(label.width(), label.sizeHint().width()); // never cut
        EXPECT_EQ(label.geometry().right(), row.right());
        EXPECT_FALSE(label.geometry().intersects(bar.geometry()));
        EXPECT_EQ(bar.geometry().left(), row.left());
        EXPECT_FALSE(label.accessibleDescription().isEmpty());
        EXPECT_EQ(label.toolTip(), label.accessibleDescription());
        Form().ShowConnectionSecurity("");
        EXPECT_FALSE(label.isVisible());
        EXPECT_EQ(bar.geometry(), row);
    }
    Form().ShowConnectionSecurity("Not secured");
    EXPECT_EQ(Form().SecurityLbl->toolTip(),
              "The password and the update cross the network in clear.");
    EXPECT_TRUE(Form().StatusMemo->toPlainText().isEmpty()); // no line of the status log
}

TEST_F(MainWindowTest, LogMenuSavesTheLogAsUtf8WhereTheOperatorChooses) {
    CreateAndShow();
    Form().PassEdt->setText(QStringLiteral("Secret1"));
    Form().ClearLog(); // a run begins with this password
    Form().AddLine("caf\xe9", 1);
    Form().StatusMemo->moveCursor(QTextCursor::End);
    Form().StatusMemo->insertPlainText(QStringLiteral("typed Secret1 and Other9"));
    Form().PassEdt->setText(QStringLiteral("Other9"));

    const std::unique_ptr<QMenu> menu = Form().CreateLogMenu();
    QStringList texts;
    for (const QAction* action : menu->actions()) {
        if (!action->isSeparator())
            texts << action->text();
    }
    EXPECT_EQ(texts, (QStringList{"Copy", "Select All", "Save Log As..."}));
    EXPECT_FALSE(menu->actions().front()->isEnabled()); // nothing selected to copy

    const QString target = QString::fromStdString(dir / "saved.log");
    const QString offered = QString::fromStdString(
        dir / ("pkg/apply-update-_NONE-" +
               QDate::currentDate().toString(Qt::ISODate).toStdString() + ".log"));
    QStringList selected;
    test_support::WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        selected = dialog->selectedFiles();
        dialog->selectFile(target);
        static_cast<QDialog*>(dialog)->accept(); // public there, the file dialog's own
    });
    menu->actions().back()->trigger();
    EXPECT_EQ(selected, QStringList{offered});
    std::ifstream saved(target.toStdString(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}),
              " \ncaf\xc3\xa9\ntyped ******** and ********");

    // Without a package folder to write to, the home folder is offered.
    std::filesystem::remove_all(dir / "pkg");
    EXPECT_EQ(QFileInfo(Form().DefaultLogPath()).absolutePath(), QDir::homePath());
}

} // namespace
