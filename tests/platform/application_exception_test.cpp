#include "platform/application_exception.h"
#include "platform/exception.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

std::string Reported(std::exception_ptr error) {
    std::string seen = "<nothing>";
    platform::SetExceptionHandler([&](const std::string& message) { seen = message; });
    platform::HandleException(std::move(error));
    platform::SetExceptionHandler(nullptr);
    return seen;
}

TEST(ApplicationExceptionTest, ReportsTheWholeMessageOfEveryKindOfError) {
    const std::string withNul("550 no\0such file\r\n", 18);
    EXPECT_EQ(Reported(std::make_exception_ptr(platform::Exception(withNul))), withNul);
    EXPECT_EQ(Reported(std::make_exception_ptr(std::runtime_error("plain"))), "plain");
    EXPECT_EQ(Reported(std::make_exception_ptr(42)), "Unknown error");
}

TEST(ApplicationExceptionTest, AFailingHandlerDoesNotEscape) {
    platform::SetExceptionHandler([](const std::string&) { throw std::runtime_error("x"); });
    EXPECT_NO_THROW(platform::HandleException(std::make_exception_ptr(std::runtime_error("y"))));
    platform::SetExceptionHandler(nullptr);
}

} // namespace
