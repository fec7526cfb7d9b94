// Runs the apply procedure without a window against the IBM i host emulator (or any FTP
// peer on 127.0.0.1): the apply tests' fixture, with the readme already read, a longer limit
// for hostile peers (after which the run is stopped over and over until it ends and the test
// fails as hung), the fields filled for the emulator when one runs, and a check that
// whatever the host did, the package the installer read from is as it was.
#pragma once

#include "tests/installer/apply_fixture.h"

namespace test_support {

class InstallerRun : public ApplyTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Reads the descriptor, makes the client and the procedure, and fills the fields for
    // the emulator (the target library alone when none runs).
    void Load();
    // Presses Apply once and waits for the run to end (bounded).
    void Apply();
};

} // namespace test_support
