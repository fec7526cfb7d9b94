#include "installer/window/message_boxes.h"

#include "installer/procedure/program_values.h"
#include "installer/procedure/text.h"
#include "installer/window/window_support.h"
#include "platform/application_exception.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace installer {
namespace {

QString ApplicationTitle() {
    const QString title = QCoreApplication::applicationName();
    return title.isEmpty() ? QString::fromLatin1(kApplicationTitle) : title;
}

// No parent: the boxes must stay usable even while the main window is disabled.
void Show(QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    // Texts come from descriptors and servers: never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setFont(WindowFont());
    box.exec();
}

} // namespace

void ShowMessage(const std::string& text) {
    Show(QMessageBox::NoIcon, ApplicationTitle(), ToQString(text));
}

void ShowErrorDialog(const std::string& text) {
    Show(QMessageBox::Critical, QStringLiteral("Error"), ToQString(text));
}

void ShowErrorReport(const std::string& message) {
    Show(QMessageBox::Critical, ApplicationTitle(), ToQString(ErrorReportText(message)));
}

void ShowErrorReport(const QString& message) {
    const bool dotted = message.isEmpty() || message.back() <= QLatin1Char('.');
    Show(QMessageBox::Critical, ApplicationTitle(), dotted ? message : message + QLatin1Char('.'));
}

void InstallErrorReport() {
    platform::SetExceptionHandler([](const std::string& message) { ShowErrorReport(message); });
}

} // namespace installer
