// Apply Update: applies one software update to an AS/400 over FTP.
#include "installer/apply_update_windows.h"

#include <QApplication>

int main(int /*argc*/, char** argv) {
    // The installer takes no command-line options, so none reach the toolkit either.
    int toolkitArgc = 1;
    QApplication application(toolkitArgc, argv);
    return installer::RunApplyUpdate();
}
