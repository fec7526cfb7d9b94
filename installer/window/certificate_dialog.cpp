#include "installer/window/certificate_dialog.h"

#include "installer/procedure/certificate_trust.h"
#include "installer/window/window_support.h"

#include <QMessageBox>
#include <QPushButton>

namespace installer {

bool AskToTrustCertificate(const CertificateQuestion& question) {
    // No parent: the question must stay usable while the main window takes no input.
    QMessageBox box(question.identityChanged ? QMessageBox::Critical : QMessageBox::Warning,
                    QStringLiteral("Certificate of the AS/400"),
                    ToQString(CertificateQuestionText(question)));
    // Texts come from the host's certificate: never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setFont(WindowFont());
    QPushButton* trust =
        box.addButton(QStringLiteral("Trust this certificate"), QMessageBox::AcceptRole);
    QPushButton* stop = box.addButton(QStringLiteral("Stop"), QMessageBox::RejectRole);
    box.setDefaultButton(stop);
    box.setEscapeButton(stop);
    stop->setFocus();
    box.exec();
    return box.clickedButton() == trust;
}

} // namespace installer
