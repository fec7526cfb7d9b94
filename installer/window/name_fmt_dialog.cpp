#include "installer/window/name_fmt_dialog.h"

#include "installer/window/window_controls.h"
#include "installer/window/window_support.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace installer {
namespace {
const char* const kFormatTexts[3] = {
    "Do not overrride the FTP Name format parameter",
    "Set the name format to *LIB (SITE NAMEFMT 0)",
    "Set the name format to *PATH (SITE NAMEFMT 1)",
};
const char* const kSecurityTexts[3] = {
    "None: plain FTP",
    "TLS: AUTH TLS on the FTP port",
    "Implicit TLS: TLS from the start (port 990)",
};
const char* const kDataConnectionTexts[3] = {
    "Automatic: active, passive if it fails",
    "Active: the AS/400 connects back",
    "Passive: the installer connects",
};
const int kItemsLeft = 6;
const int kItemsRight = 2;
const int kWidth = 277;
// The name-format group keeps its place and size; the two groups below it are as tall as
// their three items need.
const int kFormatHeight = 113;
const int kGroupHeight = 70;
const int kButtonsTop = kFormatHeight + 2 * kGroupHeight + 7;

void MakeGroup(TChoiceGroup& group, QWidget* parent, const char* title,
               const char* const (&texts)[3], int top, int height) {
    group.Group = std::make_unique<QGroupBox>(QString::fromLatin1(title), parent);
    group.Group->setGeometry(0, top, kWidth, height);
    group.Buttons = std::make_unique<QButtonGroup>();
    auto layout = std::make_unique<QVBoxLayout>();
    // Narrow margins, as a radio group has, so the longest item fits the fixed width.
    layout->setContentsMargins(kItemsLeft, 2, kItemsRight, 2);
    layout->setSpacing(0);
    for (int i = 0; i < 3; ++i) {
        group.Items[i] = std::make_unique<QRadioButton>(QString::fromLatin1(texts[i]));
        layout->addWidget(group.Items[i].get());
        group.Buttons->addButton(group.Items[i].get(), i);
    }
    group.Group->setLayout(layout.release()); // the group owns its layout
    group.Items[0]->setChecked(true);
}

} // namespace

int TChoiceGroup::ItemIndex() const {
    return Buttons->checkedId();
}

void TChoiceGroup::SetItemIndex(int index) {
    if (QAbstractButton* button = Buttons->button(index))
        button->setChecked(true);
}

TNameFmt::TNameFmt(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("Advanced Options"));
    setFont(WindowFont());
    setFixedSize(kWidth, kButtonsTop + 28);

    // Created in tab order: OK, Cancel, then the groups.
    Button1 = std::make_unique<QPushButton>(QStringLiteral("OK"), this);
    Button1->setGeometry(112, kButtonsTop, 75, 25);
    Button2 = std::make_unique<QPushButton>(QStringLiteral("Cancel"), this);
    Button2->setGeometry(192, kButtonsTop, 75, 25);
    // The main window's Apply is the only default button: Enter here presses neither.
    for (QPushButton* button : {Button1.get(), Button2.get()})
        button->setAutoDefault(false);

    MakeGroup(Format, this, " Set the FTP NAMEFMT option ", kFormatTexts, 0, kFormatHeight);
    MakeGroup(Security, this, " Connection security ", kSecurityTexts, kFormatHeight, kGroupHeight);
    MakeGroup(DataConnection, this, " Data connection ", kDataConnectionTexts,
              kFormatHeight + kGroupHeight, kGroupHeight);
    FitItems();

    QWidget* previous = Button2.get();
    QWidget::setTabOrder(Button1.get(), Button2.get());
    for (const TChoiceGroup* group : {&Format, &Security, &DataConnection})
        for (const auto& item : group->Items) {
            QWidget::setTabOrder(previous, item.get());
            previous = item.get();
        }

    connect(Button1.get(), &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(Button2.get(), &QPushButton::clicked, this, [this] { done(mrCancel); });
}

TNameFmt::~TNameFmt() = default;

void TNameFmt::FitItems() {
    // The items take their width from the group's layout; the fixed width was laid out for
    // MS Sans Serif, and a wider substitute font is narrowed just enough to fit it.
    for (const TChoiceGroup* group : {&Format, &Security, &DataConnection}) {
        group->Group->layout()->activate();
        for (const auto& item : group->Items)
            FitCaptionFont(*item);
    }
    FitCaptionFont(*Button1);
    FitCaptionFont(*Button2);
}

TNameFmt::Choices TNameFmt::Chosen() const {
    return {Format.ItemIndex(), Security.ItemIndex(), DataConnection.ItemIndex()};
}

void TNameFmt::Choose(const Choices& choices) {
    Format.SetItemIndex(choices.format);
    Security.SetItemIndex(choices.security);
    DataConnection.SetItemIndex(choices.dataConnection);
}

void TNameFmt::reject() {
    done(mrCancel);
}

void TNameFmt::showEvent(QShowEvent* event) {
    CentreWindow(*this, parentWidget());
    QDialog::showEvent(event);
}

void TNameFmt::keyPressEvent(QKeyEvent* event) {
    // No button is bound to Esc.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace installer
