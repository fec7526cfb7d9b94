#include "platform/process_hardening.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(ProcessHardeningTest, TakenVariableIsGoneFromTheEnvironment) {
    ::setenv("PROCESS_HARDENING_TEST_SECRET", "Secret1", 1);
    EXPECT_EQ(platform::TakeEnvironmentVariable("PROCESS_HARDENING_TEST_SECRET"), "Secret1");
    EXPECT_EQ(std::getenv("PROCESS_HARDENING_TEST_SECRET"), nullptr);
    EXPECT_EQ(platform::TakeEnvironmentVariable("PROCESS_HARDENING_TEST_SECRET"), std::nullopt);
}

// In a child process, so that this one keeps its core files.
TEST(ProcessHardeningTest, NoCoreFileAfterDisablingCoreDumps) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::DisableCoreDumps();
        rlimit core{};
        const bool none = ::getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur == 0 &&
                          core.rlim_max == 0 && ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0;
        ::_exit(none ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
