#include "installer/window/readme_dialog.h"

#include "installer/procedure/text.h"
#include "installer/window/window_controls.h"
#include "installer/window/window_support.h"
#include "platform/paths.h"

#include <QFrame>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>

namespace installer {

TReadme::TReadme(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("Important Information About This Update"));
    setFont(WindowFont());
    setFixedSize(366, 343);

    Memo1 = std::make_unique<QPlainTextEdit>(QStringLiteral("Memo1"), this);
    Memo1->setGeometry(0, 0, 366, 302);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setTabChangesFocus(true);
    Memo1->setAccessibleName(QStringLiteral("Readme"));

    // The bottom panel, without bevel.
    Panel1 = std::make_unique<QFrame>(this);
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setGeometry(0, 302, 366, 41);
    Button1 = std::make_unique<QPushButton>(QStringLiteral("OK"), Panel1.get());
    Button1->setGeometry(191, 10, 75, 25);
    Button2 = std::make_unique<QPushButton>(QStringLiteral("Cancel"), Panel1.get());
    Button2->setGeometry(277, 10, 75, 25);
    // The main window's Apply is the only default button: Enter (in the memo, say) must not
    // acknowledge a readme that was never read.
    for (QPushButton* button : {Button1.get(), Button2.get()})
        button->setAutoDefault(false);
    QWidget::setTabOrder(Button1.get(), Button2.get());
    FitCaptionFont(*Button1);
    FitCaptionFont(*Button2);

    connect(Button1.get(), &QPushButton::clicked, this,
            [this] { Guarded([this] { Button1Click(); }); });
    connect(Button2.get(), &QPushButton::clicked, this, [this] { done(mrCancel); });
}

TReadme::~TReadme() = default;

void TReadme::LoadFromFile(const std::string& path) {
    // A readme written as UTF-8 shows its characters; any other is read as Latin-1, so
    // that every byte still shows as some character.
    const TextFileBytes file = TextFileEncoding(platform::ReadFileBytes(path));
    QStringList lines;
    for (const std::string& line : TextLines(file.bytes)) {
        lines << (file.utf8 ? QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()))
                            : ToQString(line));
    }
    Memo1->setPlainText(lines.join(QLatin1Char('\n')));
}

void TReadme::Button1Click() {
    if (OnAcknowledge)
        OnAcknowledge();
    done(mrOk);
}

void TReadme::reject() {
    done(mrCancel);
}

void TReadme::showEvent(QShowEvent* event) {
    CentreWindow(*this, parentWidget());
    QDialog::showEvent(event);
}

void TReadme::keyPressEvent(QKeyEvent* event) {
    // No button is bound to Esc.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace installer
