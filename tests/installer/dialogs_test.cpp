#include "installer/procedure/connection_options.h"
#include "installer/window/window_controls.h"
#include "tests/installer/modal_driver.h"
#include "tests/installer/windows_fixture.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using DialogsTest = test_support::WindowsTest;
using test_support::WhenModal;

// How a test ends a modal dialog.
enum class Ending { Ok, Cancel, CloseBox };

// Esc and Enter are bound to nothing in the dialogs (the main window's Apply is the only
// default button): the dialog stays open, whichever control has the focus.
void ExpectKeysBoundToNothing(QWidget* modal) {
    for (QWidget* control : modal->findChildren<QWidget*>()) {
        if (control->focusPolicy() == Qt::NoFocus || !control->isVisible())
            continue;
        control->setFocus();
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(control, key);
            ASSERT_TRUE(modal->isVisible())
                << "key " << key << " on " << control->metaObject()->className();
        }
    }
}

void EndModal(Ending ending, QAbstractButton* ok, QAbstractButton* cancel) {
    WhenModal([=](QWidget* modal) {
        ExpectKeysBoundToNothing(modal);
        switch (ending) {
        case Ending::Ok:
            ok->click();
            break;
        case Ending::Cancel:
            cancel->click();
            break;
        case Ending::CloseBox:
            modal->close();
            break;
        }
    });
}

TEST_F(DialogsTest, WithoutReadmeTheButtonStaysDisabled) {
    CreateAndShow();
    EXPECT_FALSE(Form().ReadmeBtn->isEnabled());
    EXPECT_EQ(Readme().Memo1->toPlainText(), "Memo1");
    EXPECT_FALSE(Form().ReadmeAcknowledged());
}

TEST_F(DialogsTest, ReadmeIsLoadedAtShowAndTheButtonEnabled) {
    test_support::WriteFile(dir / "pkg/Readme.txt", "Line one\r\nLine two caf\xe9\r\n\r\nLast");
    Create();
    EXPECT_FALSE(Form().ReadmeBtn->isEnabled());
    Form().show();
    EXPECT_TRUE(Form().ReadmeBtn->isEnabled());
    EXPECT_EQ(Readme().Memo1->toPlainText(),
              QString::fromLatin1("Line one\nLine two caf\xe9\n\nLast"));
    EXPECT_TRUE(Readme().Memo1->isReadOnly());
    EXPECT_FALSE(Form().ReadmeAcknowledged());
}

TEST_F(DialogsTest, ReadmeInUtf8IsShownAsUtf8WithOrWithoutItsMark) {
    const QString expected = QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac\n\xc5\x81\xc3\xb3"
                                               "d\xc5\xba");
    for (const std::string mark : {"", "\xef\xbb\xbf"}) {
        test_support::WriteFile(dir / "pkg/Readme.txt",
                                mark + "caf\xc3\xa9 \xe2\x82\xac\r\n\xc5\x81\xc3\xb3"
                                       "d\xc5\xba");
        windows.reset();
        CreateAndShow();
        EXPECT_EQ(Readme().Memo1->toPlainText(), expected) << mark.size();
    }
}

TEST_F(DialogsTest, AReadmeDirectoryIsNoReadme) {
    std::filesystem::create_directory(dir / "pkg/Readme.txt");
    CreateAndShow();
    EXPECT_FALSE(Form().ReadmeBtn->isEnabled());
}

TEST_F(DialogsTest, OnlyReadmeOkSetsTheAcknowledgement) {
    test_support::WriteFile(dir / "pkg/Readme.txt", "Read me");
    CreateAndShow();
    for (Ending ending : {Ending::Cancel, Ending::CloseBox}) {
        EndModal(ending, Readme().Button1.get(), Readme().Button2.get());
        Form().ReadmeBtn->click();
        EXPECT_FALSE(Readme().isVisible());
        EXPECT_FALSE(Form().ReadmeAcknowledged());
        EXPECT_EQ(Readme().result(), installer::mrCancel);
    }
    // The readme gate reads the modal result.
    EndModal(Ending::Cancel, Readme().Button1.get(), Readme().Button2.get());
    EXPECT_EQ(Form().ShowReadmeModal(), installer::mrCancel);
    EndModal(Ending::Ok, Readme().Button1.get(), Readme().Button2.get());
    EXPECT_EQ(Form().ShowReadmeModal(), installer::mrOk);
    EXPECT_TRUE(Form().ReadmeAcknowledged());

    // Once given, Cancel does not take it back.
    EndModal(Ending::Cancel, Readme().Button1.get(), Readme().Button2.get());
    Form().ReadmeBtn->click();
    EXPECT_TRUE(Form().ReadmeAcknowledged());
}

TEST_F(DialogsTest, AdvancedOkKeepsTheNewChoiceCancelAndCloseBoxRestoreIt) {
    CreateAndShow();
    EXPECT_EQ(Form().NameFormatIndex(), installer::kNameFormatUnchanged);

    const auto chooseAndEnd = [this](int item, Ending ending) {
        WhenModal([=, this](QWidget* modal) {
            for (installer::TChoiceGroup* group :
                 {&NameFmt().Format, &NameFmt().Security, &NameFmt().DataConnection})
                group->Items[item]->click();
            EXPECT_EQ(NameFmt().ItemIndex(), item);
            ExpectKeysBoundToNothing(modal);
            if (ending == Ending::Ok)
                NameFmt().Button1->click();
            else if (ending == Ending::Cancel)
                NameFmt().Button2->click();
            else
                modal->close();
        });
        Form().Button1->click();
        EXPECT_FALSE(NameFmt().isVisible());
    };
    // Every group of the dialog keeps or restores its choice with the others.
    const auto expectChoice = [this](int item) {
        EXPECT_EQ(Form().NameFormatIndex(), item);
        EXPECT_EQ(static_cast<int>(Form().ConnectionChoice().security), item);
        EXPECT_EQ(static_cast<int>(Form().ConnectionChoice().dataConnection), item);
    };

    chooseAndEnd(2, Ending::Cancel);
    expectChoice(0);
    chooseAndEnd(2, Ending::Ok);
    expectChoice(2);
    chooseAndEnd(1, Ending::CloseBox);
    expectChoice(2);
    chooseAndEnd(1, Ending::Ok);
    expectChoice(1);
}

TEST_F(DialogsTest, ConnectionChoicesStartFromTheDescriptorAndAnUnknownOneIsRefused) {
    Descriptor("Security=ImplicitTLS\r\nDataConnection=Passive\r\n");
    CreateAndShow();
    EXPECT_EQ(NameFmt().Security.ItemIndex(), 2);
    EXPECT_EQ(NameFmt().DataConnection.ItemIndex(), 2);
    windows.reset();
    Descriptor("Security=Kerberos\r\n");
    EXPECT_THROW(Create(), installer::EDescriptorValue);
    // So is a package that names a file outside itself, or CL text for a library.
    for (const char* line : {"Filename=../outside.SVF\r\n", "Tgtlib=PRODLIB) REPLACE(*YES\r\n"}) {
        Descriptor(line);
        EXPECT_THROW(Create(), installer::EDescriptorValue) << line;
    }
}

} // namespace
