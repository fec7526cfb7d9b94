// The echo of a pseudo-terminal while a password is read from it, and after.
#include "platform/terminal_echo.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

class TerminalEchoTest : public ::testing::Test {
protected:
    void SetUp() override {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        const int slave = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(slave, 0);
        terminal_ = ::fdopen(slave, "r+");
        ASSERT_NE(terminal_, nullptr);
        ASSERT_TRUE(Echoes());
    }
    void TearDown() override {
        if (terminal_ != nullptr)
            std::fclose(terminal_);
        if (master_ >= 0)
            ::close(master_);
    }

    bool Echoes() const {
        termios settings{};
        return ::tcgetattr(::fileno(terminal_), &settings) == 0 && (settings.c_lflag & ECHO);
    }

    // What the terminal shows up to the end of the next line; the wait is only a guard.
    std::string ShownLine() const {
        std::string shown;
        char c = 0;
        pollfd ready{master_, POLLIN, 0};
        while (shown.find('\n') == std::string::npos && ::poll(&ready, 1, 10000) == 1 &&
               ::read(master_, &c, 1) == 1)
            shown += c;
        return shown;
    }

    int master_ = -1;
    std::FILE* terminal_ = nullptr;
};

TEST_F(TerminalEchoTest, TypedLineIsNotShownAndEchoComesBack) {
    {
        const platform::TerminalEchoOff quiet(terminal_);
        EXPECT_TRUE(quiet.Active());
        EXPECT_FALSE(Echoes());
        ASSERT_EQ(::write(master_, "Secret1\n", 8), 8);
        char line[32] = {};
        ASSERT_NE(std::fgets(line, sizeof line, terminal_), nullptr);
        EXPECT_STREQ(line, "Secret1\n");
        EXPECT_EQ(ShownLine(), "\r\n"); // the line end alone
    }
    EXPECT_TRUE(Echoes());
}

TEST_F(TerminalEchoTest, EchoComesBackWhenSigtermEndsTheProgram) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGTERM, SIG_DFL);
        const platform::TerminalEchoOff quiet(terminal_);
        ::raise(SIGTERM);
        ::_exit(quiet.Active() ? 0 : 1); // not reached when SIGTERM ends the child
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(Echoes());
}

} // namespace
