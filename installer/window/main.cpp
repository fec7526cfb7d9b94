// Apply Update: applies one software update to an AS/400 over FTP.
#include "installer/procedure/version.h"
#include "installer/window/apply_update_windows.h"
#include "platform/broken_pipe.h"
#include "platform/event_pump.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    platform::IgnoreBrokenPipe();
    // "--version" is the one option; it answers without opening a window. Every other
    // argument is ignored, and none reaches the toolkit.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", installer::kProgramName, installer::kVersion);
            return 0;
        }
    }
    int toolkitArgc = 1;
    platform::ChooseEventDispatcher();
    QApplication application(toolkitArgc, argv);
    return installer::RunApplyUpdate();
}
