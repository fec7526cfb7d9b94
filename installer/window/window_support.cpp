#include "installer/window/window_support.h"

#include <algorithm>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGuiApplication>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

namespace installer {

QString ToQString(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQString(const QString& text) {
    return text.toLatin1().toStdString();
}

QFont WindowFont() {
    // The layout's fixed widths were measured with MS Sans Serif; the fallbacks share its
    // proportions closely enough that no caption is cut. Windows has it as the outline font
    // "Microsoft Sans Serif"; the name "MS Sans Serif" may find a bitmap font there (wine's
    // is one), whose text a line edit does not draw, so it comes after Tahoma.
    QFont font;
    font.setFamilies({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma"),
                      QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("Helvetica")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

int CaptionRoom(const QAbstractButton& button) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    option.icon = button.icon();
    option.iconSize = button.iconSize();
    QStyle::SubElement contents = QStyle::SE_PushButtonContents;
    if (qobject_cast<const QCheckBox*>(&button) != nullptr)
        contents = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<const QRadioButton*>(&button) != nullptr)
        contents = QStyle::SE_RadioButtonContents;
    return button.style()->subElementRect(contents, &option, &button).width();
}

int CaptionWidth(const QAbstractButton& button) {
    return button.fontMetrics().size(Qt::TextShowMnemonic, button.text()).width();
}

void FitCaptionFont(QAbstractButton& button) {
    // Narrower faces first (a condensed face reads better than a smaller one), then
    // smaller sizes, down to what is still legible.
    constexpr int kNarrowestStretch = 75;
    constexpr int kSmallestPixels = 9;
    QFont font = button.font();
    while (CaptionWidth(button) > CaptionRoom(button)) {
        const int stretch =
            font.stretch() == QFont::AnyStretch ? QFont::Unstretched : font.stretch();
        if (stretch > kNarrowestStretch)
            font.setStretch(std::max(kNarrowestStretch, stretch - 5));
        else if (font.pixelSize() > kSmallestPixels)
            font.setPixelSize(font.pixelSize() - 1);
        else
            return;
        button.setFont(font);
    }
}

void CentreWindow(QWidget& window, const QWidget* over) {
    QRect area;
    if (over != nullptr && over->isVisible()) {
        area = over->frameGeometry();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    } else {
        return;
    }
    const QRect frame = window.frameGeometry();
    window.move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
}

} // namespace installer
