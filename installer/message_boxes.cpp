#include "installer/message_boxes.h"

#include "installer/program_values.h"
#include "installer/text.h"
#include "installer/window_support.h"
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
void Show(QMessageBox::Icon icon, const QString& caption, const std::string& text) {
    QMessageBox box(icon, caption, ToQString(text), QMessageBox::Ok);
    // Texts come from descriptors and servers: never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setFont(WindowFont());
    box.exec();
}

} // namespace

void ShowMessage(const std::string& text) {
    Show(QMessageBox::NoIcon, ApplicationTitle(), text);
}

void ShowErrorDialog(const std::string& text) {
    Show(QMessageBox::Critical, QStringLiteral("Error"), text);
}

void ShowErrorReport(const std::string& message) {
    Show(QMessageBox::Critical, ApplicationTitle(), ErrorReportText(message));
}

void InstallErrorReport() {
    platform::SetExceptionHandler(ShowErrorReport);
}

} // namespace installer
