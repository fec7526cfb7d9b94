// Small pieces every window of the installer shares: text conversion, the common font,
// centring, and the guard that keeps errors from crossing the toolkit's event dispatch.
#pragma once

#include "platform/application_exception.h"

#include <QFont>
#include <QString>

#include <exception>
#include <string>

class QAbstractButton;
class QWidget;

namespace installer {

// The installer's texts are bytes; the windows show them as Latin-1 so that every byte
// survives the round trip through a control.
QString ToQString(const std::string& text);
std::string FromQString(const QString& text);

// "MS Sans Serif" at 8 points (11 pixels); the toolkit substitutes its nearest font.
QFont WindowFont();

// The width a button, check box or radio button has for its caption, as its style draws it,
// and the width its caption needs in its font.
int CaptionRoom(const QAbstractButton& button);
int CaptionWidth(const QAbstractButton& button);

// The controls were laid out for MS Sans Serif; where a substitute font is wider, the
// control's own font is narrowed just enough that its caption fits. The control keeps its
// place and size, and so does every other control.
void FitCaptionFont(QAbstractButton& button);

// Moves a window so that its centre is the centre of `over` (the screen when null).
void CentreWindow(QWidget& window, const QWidget* over);

// Runs an event handler; an error that leaves it goes to the top-level error report
// instead of unwinding through the toolkit, and the program keeps running.
template <class Handler> void Guarded(Handler&& handler) noexcept {
    try {
        handler();
    } catch (...) {
        platform::HandleException(std::current_exception());
    }
}

} // namespace installer
