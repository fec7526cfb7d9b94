// The installer's message boxes.
#pragma once

#include <string>

class QString;

namespace installer {

// Plain message: no icon, one OK button, captioned with the application title.
void ShowMessage(const std::string& text);

// Error dialog: error icon, one OK button, caption "Error".
void ShowErrorDialog(const std::string& text);

// Top-level error report: error icon, one OK button, captioned with the application
// title; "." is appended when the text's last character sorts after ".".
void ShowErrorReport(const std::string& message);
// The same for a text that is already the window's (a file name the operator chose, say).
void ShowErrorReport(const QString& message);

// Makes the top-level error report the destination of every error that leaves an event
// handler of the windows or a timer tick. Errors of the socket layer's notification
// handlers never get here: the socket layer drops them, as it drops a status handler's.
void InstallErrorReport();

} // namespace installer
