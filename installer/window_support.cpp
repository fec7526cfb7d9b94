#include "installer/window_support.h"

#include <QGuiApplication>
#include <QScreen>
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
    // proportions closely enough that no caption is cut.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
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
