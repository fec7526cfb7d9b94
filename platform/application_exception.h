// The application's top-level error report. Errors that leave an event handler (a button
// handler, a timer tick) end here; the program keeps running afterwards. The windows install
// a handler that shows a message box; without one the text goes to standard error.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace platform {

using ExceptionHandler = std::function<void(const std::string& message)>;

// Installs the handler that reports an error to the operator; an empty one restores the
// default (standard error).
void SetExceptionHandler(ExceptionHandler handler);

// Reports the exception that is being handled (call from inside a catch block). Never throws.
void HandleException(std::exception_ptr error) noexcept;

// The message of an error as the operator sees it.
std::string ExceptionMessage(std::exception_ptr error);

} // namespace platform
