#include "installer/window/apply_update_windows.h"

#include "installer/procedure/connection_options.h"
#include "installer/procedure/program_values.h"
#include "installer/window/message_boxes.h"
#include "platform/paths.h"

#include <QApplication>

#include <optional>

namespace installer {

void InitializeApplication() {
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
    InstallErrorReport();
}

ApplyUpdateWindows::~ApplyUpdateWindows() {
    if (ApplyUpdateForm)
        ApplyUpdateForm->SetDialogs(nullptr, nullptr);
    Readme.reset();
    NameFmt.reset();
    ApplyUpdateForm.reset();
}

ApplyUpdateWindows CreateApplyUpdateWindows(const std::string& executablePath) {
    ApplyUpdateWindows windows;
    windows.ApplyUpdateForm = std::make_unique<TApplyUpdateForm>(executablePath);
    windows.NameFmt = std::make_unique<TNameFmt>(windows.ApplyUpdateForm.get());
    windows.Readme = std::make_unique<TReadme>(windows.ApplyUpdateForm.get());
    windows.ApplyUpdateForm->SetDialogs(windows.NameFmt.get(), windows.Readme.get());
    // The main window brings its own apply procedure and FTP client.
    return windows;
}

int RunApplyUpdate() {
    InitializeApplication();
    std::optional<ApplyUpdateWindows> windows;
    try {
        windows.emplace(CreateApplyUpdateWindows(platform::ExecutablePath()));
    } catch (const EDescriptorValue& error) {
        ShowErrorReport(error.Message());
        return 1;
    }
    windows->ApplyUpdateForm->show();
    return QApplication::exec();
}

} // namespace installer
