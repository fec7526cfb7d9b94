#include "platform/application_exception.h"

#include "platform/exception.h"

#include <cstdio>
#include <utility>

namespace platform {
namespace {
ExceptionHandler& Handler() {
    static ExceptionHandler handler;
    return handler;
}
} // namespace

void SetExceptionHandler(ExceptionHandler handler) {
    Handler() = std::move(handler);
}

std::string ExceptionMessage(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const Exception& e) {
        return e.Message(); // whole, even where a server's text holds a NUL byte
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

void HandleException(std::exception_ptr error) noexcept {
    try {
        const std::string message = ExceptionMessage(std::move(error));
        if (Handler())
            Handler()(message);
        else
            std::fprintf(stderr, "%s\n", message.c_str());
    } catch (...) {
        // A failing report must not take the event loop down with it.
    }
}

} // namespace platform
