#include "installer/name_fmt_dialog.h"

#include "installer/apply_ui.h"
#include "installer/window_support.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace installer {
namespace {
const char* const kItemTexts[3] = {
    "Do not overrride the FTP Name format parameter",
    "Set the name format to *LIB (SITE NAMEFMT 0)",
    "Set the name format to *PATH (SITE NAMEFMT 1)",
};
const int kItemsLeft = 6;
const int kItemsRight = 2;
} // namespace

TNameFmt::TNameFmt(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("Advanced Options"));
    setFont(WindowFont());
    setFixedSize(277, 148);

    // Created in tab order: OK, Cancel, then the group.
    Button1 = std::make_unique<QPushButton>(QStringLiteral("OK"), this);
    Button1->setGeometry(112, 120, 75, 25);
    Button2 = std::make_unique<QPushButton>(QStringLiteral("Cancel"), this);
    Button2->setGeometry(192, 120, 75, 25);
    // The main window's Apply is the only default button: Enter here presses neither.
    for (QPushButton* button : {Button1.get(), Button2.get()})
        button->setAutoDefault(false);

    FormatGrp = std::make_unique<QGroupBox>(QStringLiteral(" Set the FTP NAMEFMT option "), this);
    FormatGrp->setGeometry(0, 0, 277, 113);
    items_ = std::make_unique<QButtonGroup>();
    auto layout = std::make_unique<QVBoxLayout>();
    // Narrow margins, as a radio group has, so the longest item fits the fixed width.
    layout->setContentsMargins(kItemsLeft, 2, kItemsRight, 2);
    layout->setSpacing(0);
    for (int i = 0; i < 3; ++i) {
        FormatItems[i] = std::make_unique<QRadioButton>(QString::fromLatin1(kItemTexts[i]));
        layout->addWidget(FormatItems[i].get());
        items_->addButton(FormatItems[i].get(), i);
    }
    FormatGrp->setLayout(layout.release()); // the group owns its layout
    FormatItems[0]->setChecked(true);
    FitItems();

    QWidget::setTabOrder(Button1.get(), Button2.get());
    QWidget::setTabOrder(Button2.get(), FormatItems[0].get());

    connect(Button1.get(), &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(Button2.get(), &QPushButton::clicked, this, [this] { done(mrCancel); });
}

TNameFmt::~TNameFmt() = default;

void TNameFmt::FitItems() {
    // The items take their width from the group's layout; the fixed width was laid out for
    // MS Sans Serif, and a wider substitute font is narrowed just enough to fit it.
    FormatGrp->layout()->activate();
    for (const auto& item : FormatItems)
        FitCaptionFont(*item);
    FitCaptionFont(*Button1);
    FitCaptionFont(*Button2);
}

int TNameFmt::ItemIndex() const {
    return items_->checkedId();
}

void TNameFmt::SetItemIndex(int index) {
    if (QAbstractButton* button = items_->button(index))
        button->setChecked(true);
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
