// Start-up: the application's three windows, created in their fixed order.
#pragma once

#include "installer/window/main_window.h"
#include "installer/window/name_fmt_dialog.h"
#include "installer/window/readme_dialog.h"

#include <memory>
#include <string>

namespace installer {

// The dialogs are children of the main window (so they stay in front of it and centre on
// it), and are released before it, which the destructor guarantees.
struct ApplyUpdateWindows {
    ApplyUpdateWindows() = default;
    ApplyUpdateWindows(ApplyUpdateWindows&&) = default;
    ApplyUpdateWindows& operator=(ApplyUpdateWindows&&) = delete;
    ~ApplyUpdateWindows();

    std::unique_ptr<TApplyUpdateForm> ApplyUpdateForm;
    std::unique_ptr<TNameFmt> NameFmt;
    std::unique_ptr<TReadme> Readme;
};

// Sets the application title "Apply Update" and sends errors that leave event handlers
// to the top-level error report. Needs the application object.
void InitializeApplication();

// The main window first (its creation handler reads the descriptor beside the executable
// at `executablePath`), then the advanced options dialog, then the readme dialog, all
// hidden.
ApplyUpdateWindows CreateApplyUpdateWindows(const std::string& executablePath);

// The whole program after the application object exists: initialise, create the
// windows, show the main window and run the event loop until it closes.
int RunApplyUpdate();

} // namespace installer
