#include "tests/hardening/installer_run.h"

namespace test_support {

void InstallerRun::SetUp() {
    ApplyTest::SetUp();
    runLimitMs = 90000;
    ui.readmeAcknowledged = true;
}

void InstallerRun::TearDown() {
    EXPECT_EQ(ReadFile(Package("W_CHKLCKSF.SVF")), LockCheckBytes());
    EXPECT_EQ(ReadFile(Package("MYUPD.SVF")), UpdateBytes());
    ApplyTest::TearDown();
}

void InstallerRun::Load() {
    ApplyTest::Load();
    if (host)
        FillFields();
    else
        ui.fields[installer::ApplyField::TargetLibEdt] = "QGPL";
}

void InstallerRun::Apply() {
    if (!procedure)
        Load();
    ApplyTest::Apply();
}

} // namespace test_support
