// A package folder with the installer's three windows created from it, and a settings
// directory of its own, so no test touches the real remembered settings.
#pragma once

#include "installer/window/apply_update_windows.h"
#include "platform/paths.h"
#include "tests/support/temporary_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace test_support {

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir / "pkg");
        platform::SetSettingsDirectory(dir / "config");
    }
    void TearDown() override {
        windows.reset();
        platform::SetSettingsDirectory("");
    }

    void Descriptor(const std::string& defaults) {
        WriteFile(dir / "pkg/update.Ini", "[Defaults]\r\n" + defaults);
    }
    void Create() {
        windows = std::make_unique<installer::ApplyUpdateWindows>(
            installer::CreateApplyUpdateWindows(dir / "pkg/apply-update"));
    }
    // Creates the windows and shows the main window, which runs its show handler.
    void CreateAndShow() {
        Create();
        Form().show();
    }

    installer::TApplyUpdateForm& Form() { return *windows->ApplyUpdateForm; }
    installer::TNameFmt& NameFmt() { return *windows->NameFmt; }
    installer::TReadme& Readme() { return *windows->Readme; }

    TemporaryDirectory dir;
    std::unique_ptr<installer::ApplyUpdateWindows> windows;
};

} // namespace test_support
