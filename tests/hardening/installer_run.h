// Runs the apply procedure without a window against the IBM i host emulator (or any FTP
// peer on 127.0.0.1): a window stand-in that records the status log, dialogs and
// messages; a package folder and a settings directory of the test's own; the errors that
// reach the top-level report; and a limit far beyond any sound run, after which the run is
// stopped over and over until it ends and the test fails as hung.
#pragma once

#include "ftp/nmftp.h"
#include "installer/apply_procedure.h"
#include "installer/apply_ui.h"
#include "installer/program_values.h"
#include "tests/support/host_emulator.h"
#include "tests/support/real_ftp_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace hardening {

class RecordingUi : public installer::ApplyUi {
public:
    std::map<installer::ApplyField, std::string> fields;
    bool replace = false;
    int nameFormat = installer::kNameFmtNoOverride;
    std::string executableDirectory;

    std::vector<std::string> log; // a blank line holds " "
    std::vector<std::string> messages;
    std::vector<std::string> errorDialogs;
    std::function<void(const std::string&)> onLine;

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void ErrorDialog(const std::string& text) override { errorDialogs.push_back(text); }
    bool ReadmeAcknowledged() const override { return true; }
    int ShowReadmeModal() override { return installer::mrOk; }
    void SetBusyCursor() override {}
    void SetNormalCursor() override {}
    void SetWindowEnabled(bool) override {}
    void SetControlEnabled(installer::ApplyControl, bool) override {}
    std::string FieldText(installer::ApplyField field) const override;
    bool ReplaceChecked() const override { return replace; }
    int NameFormatIndex() const override { return nameFormat; }
    void ClearLog() override { log.clear(); }
    void AddLine(const std::string& message, int blankLines) override;
    std::string ExecutablePath() const override { return executableDirectory + "apply-update"; }
    std::string ExecutableDirectory() const override { return executableDirectory; }
    bool FileExists(const std::string& path) const override;
};

class InstallerRun : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void StartHost(std::vector<std::string> options = {});
    // Writes update.Ini with exactly these bytes.
    void Descriptor(const std::string& bytes);
    // Update MYUPD from MYUPD.SVF, one free lock entry.
    void StandardDescriptor();
    // Reads the descriptor, makes the client and the procedure, fills the fields for the
    // emulator.
    void Load();
    // Presses Apply once and waits for the run to end (bounded).
    void Apply();

    bool Logged(const std::string& line) const;
    std::vector<std::string> HostCommands() const;
    std::filesystem::path Package(const std::string& name) const { return package_ / name; }

    test_support::TemporaryDirectory directory_;
    std::filesystem::path package_;
    std::filesystem::path settings_;
    RecordingUi ui;
    std::unique_ptr<test_support::HostEmulator> host;
    installer::ProgramValues values;
    std::unique_ptr<TNMFTP> ftp;
    std::unique_ptr<installer::ApplyProcedure> procedure;
    std::vector<std::string> reports; // what reached the top-level error report
    bool hung = false;
};

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

} // namespace hardening
