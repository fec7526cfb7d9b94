// Apply Update: applies one software update to an AS/400 over FTP.
#include "installer/apply_update_windows.h"
#include "platform/event_pump.h"

#include <QApplication>

int main(int /*argc*/, char** argv) {
    // The installer takes no command-line options, so none reach the toolkit either.
    int toolkitArgc = 1;
    platform::ChooseEventDispatcher();
    QApplication application(toolkitArgc, argv);
    return installer::RunApplyUpdate();
}
