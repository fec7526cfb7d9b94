// Every caption of the three windows fits the room its control gives it, with the fonts this
// machine substitutes and at the scale factor the process was started with
// (QT_SCALE_FACTOR is read once, at start-up; CTest runs this test once per scale).
#include "installer/window/main_window.h"
#include "tests/installer/windows_fixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QStyleOptionProgressBar>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using WindowTextTest = test_support::WindowsTest;

// Where a text must fit, and how wide and high it is.
struct Fit {
    QRect room;
    QSize text;
};

// The size of a one-line caption. Blanks at its end take room only where the text is
// aligned to the right (they push the rest out at the left); elsewhere they may be cut
// unseen.
QSize CaptionSize(const QWidget& widget, const QString& text, bool alignedRight) {
    QString shown = text;
    if (!alignedRight && widget.layoutDirection() == Qt::LeftToRight) {
        while (shown.endsWith(QLatin1Char(' ')))
            shown.chop(1);
    }
    return widget.fontMetrics().size(Qt::TextShowMnemonic, shown);
}

Fit LabelFit(const QLabel& label) {
    const QRect room = label.contentsRect().adjusted(label.margin(), label.margin(),
                                                     -label.margin(), -label.margin());
    if (label.wordWrap()) {
        return {room,
                label.fontMetrics().boundingRect(room, Qt::TextWordWrap, label.text()).size()};
    }
    return {room, CaptionSize(label, label.text(), label.alignment() & Qt::AlignRight)};
}

Fit ButtonFit(const QAbstractButton& button) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    QStyle::SubElement contents = QStyle::SE_PushButtonContents;
    if (qobject_cast<const QCheckBox*>(&button) != nullptr)
        contents = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<const QRadioButton*>(&button) != nullptr)
        contents = QStyle::SE_RadioButtonContents;
    const QRect room = button.style()->subElementRect(contents, &option, &button);
    return {room, CaptionSize(button, button.text(), false)};
}

Fit GroupTitleFit(const QGroupBox& group) {
    QStyleOptionGroupBox option;
    option.initFrom(&group);
    option.text = group.title();
    option.lineWidth = 1;
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    option.textAlignment = group.alignment();
    const QRect label = group.style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                      QStyle::SC_GroupBoxLabel, &group);
    // The style sizes the title's place to the title; that place must lie inside the group.
    return {label.intersected(group.rect()), CaptionSize(group, group.title(), false)};
}

Fit ProgressFit(const QProgressBar& bar) {
    QStyleOptionProgressBar option;
    option.initFrom(&bar);
    const QRect room = bar.style()->subElementRect(QStyle::SE_ProgressBarContents, &option, &bar);
    return {room, CaptionSize(bar, bar.text(), false)};
}

// Each caption of `window` that does not fit, with what it needs and what it has.
std::vector<std::string> CutCaptions(QWidget& window) {
    std::vector<std::string> cut;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window))
            continue;
        Fit fit;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            fit = LabelFit(*label);
            text = label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            fit = ButtonFit(*button);
            text = button->text();
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            fit = GroupTitleFit(*group);
            text = group->title();
        } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
            fit = ProgressFit(*bar);
            text = bar->text();
        } else {
            continue;
        }
        if (text.isEmpty())
            continue;
        if (fit.text.width() > fit.room.width() || fit.text.height() > fit.room.height()) {
            cut.push_back(
                "\"" + text.toStdString() + "\" needs " + std::to_string(fit.text.width()) + "x" +
                std::to_string(fit.text.height()) + ", has " + std::to_string(fit.room.width()) +
                "x" + std::to_string(fit.room.height()));
        }
    }
    return cut;
}

TEST_F(WindowTextTest, NoCaptionIsCutInAnyWindow) {
    Descriptor("Update=KDX0042\r\nDescription=Order Entry - Update 42: corrections to "
               "invoicing and the month-end close\r\n");
    test_support::WriteFile(dir / "pkg/Readme.txt", "Read me");
    CreateAndShow();
    // The longest texts the progress shows.
    Form().ShowUploadProgress(273, "27%, 1.2 GB of 4.4 GB, 112 MB/s, 29 min 59 s left");
    EXPECT_EQ(CutCaptions(Form()), std::vector<std::string>{});
    Form().ShowUploadProgress(1000, "Sent KDX0042.SVF: 4.4 GB in 39 s, 113 MB/s");
    EXPECT_EQ(CutCaptions(Form()), std::vector<std::string>{});

    for (QDialog* dialog : {static_cast<QDialog*>(&NameFmt()), static_cast<QDialog*>(&Readme())}) {
        dialog->show();
        EXPECT_EQ(CutCaptions(*dialog), std::vector<std::string>{})
            << dialog->windowTitle().toStdString();
        dialog->hide();
    }
}

} // namespace
