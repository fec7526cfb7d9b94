// Drives the apply procedure without a window: a fake window that records what the
// procedure asks of the window, a package folder, a settings directory of the test's own,
// and the IBM i host emulator (or any FTP peer) on 127.0.0.1.
#pragma once

#include "ftp/ftp_client.h"
#include "installer/procedure/apply_observer.h"
#include "installer/procedure/apply_procedure.h"
#include "installer/procedure/program_values.h"
#include "installer/window/window_controls.h"
#include "socket/thread_timer.h"
#include "tests/support/host_emulator.h"
#include "tests/support/temporary_directory.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace test_support {

// A stand-in for the main window: fields, choices and answers set by the test, and a record
// of what a run told it and of what the window does around a run.
class FakeWindow : public installer::ApplyObserver {
public:
    // The target library starts as the window's does where the descriptor names none.
    std::map<installer::ApplyField, std::string> fields = {
        {installer::ApplyField::TargetLibEdt, "QGPL"}};
    std::set<installer::ApplyField> unsendable; // fields holding a character beyond Latin-1
    bool replace = false;
    int nameFormat = installer::kNameFormatUnchanged;
    installer::ConnectionOptions connection;
    bool trustCertificates = false; // the answer to every certificate question
    std::vector<installer::CertificateQuestion> certificateQuestions;
    bool readmeAcknowledged = false;
    int readmeResult = installer::mrCancel;
    std::string executableDirectory;

    // What the procedure did, in order.
    std::vector<std::string> log; // each line of the status log; a blank line holds " "
    std::vector<std::string> messages;
    std::vector<std::string> errorDialogs;
    std::vector<std::string> calls; // cursor, enabling, clearing and dialogs
    int readmeShown = 0;
    bool busyCursor = false;
    bool windowEnabled = true;
    std::map<installer::ApplyControl, bool> enabled;
    // The upload progress: each state shown (permille and text), and whether it is shown.
    std::vector<std::pair<int, std::string>> progress;
    bool progressVisible = false;
    int progressHidden = 0;
    // Each connection-security state shown, an empty one for taken away.
    std::vector<std::string> securityStates;

    // Called as the busy part begins and ends.
    std::function<void(bool busy)> onBusyChanged;
    // Called after each line is added, with the line.
    std::function<void(const std::string&)> onLine;

    // One press of Apply, as the window handles it: the request from the fields, refused
    // with a message or passed through the readme, run, then the settings remembered and a
    // failure shown; the error that ended the run is raised last.
    void Press(installer::ApplyProcedure& procedure);
    // The fields as the window turns them into a request (a field marked unsendable holds a
    // character that Latin-1 cannot carry).
    installer::ApplyRequest Request() const;

    void ShowMessage(const std::string& text);
    void ErrorDialog(const std::string& text);
    int ShowReadmeModal();
    void SetControlEnabled(installer::ApplyControl control, bool enabled);
    std::string FieldText(installer::ApplyField field) const;

    void BusyChanged(bool busy) override;
    bool ConfirmCertificate(const installer::CertificateQuestion& question) override {
        certificateQuestions.push_back(question);
        return trustCertificates;
    }
    void ClearLog() override;
    void AddLine(const std::string& message, int blankLines) override;
    void ShowUploadProgress(int permille, const std::string& text) override;
    void HideUploadProgress() override;
    void ShowConnectionSecurity(const std::string& state) override {
        securityStates.push_back(state);
    }
};

// The lock-check and update save files the package ships (binary, with every byte value).
std::string LockCheckBytes();
std::string UpdateBytes();

class ApplyTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the emulator with these extra options.
    void StartHost(std::vector<std::string> options = {});
    // Writes pkg/update.Ini with these [Defaults] lines.
    void Descriptor(const std::string& defaults);
    // Writes pkg/update.Ini with exactly these bytes.
    void DescriptorBytes(const std::string& bytes);
    // The usual descriptor: update MYUPD from MYUPD.SVF, one lock entry.
    void StandardDescriptor();
    // Reads the descriptor and creates the FTP client and the procedure.
    void Load();
    // Fills the fields for the running emulator.
    void FillFields(const std::string& password = "");
    // Presses Apply; a run that has not ended after a generous limit is cancelled, and the
    // test fails.
    void Apply();
    // One press of Apply, at once and unguarded; an error goes to the error report.
    void Press();

    bool Logged(const std::string& line) const;      // a line of the status log
    std::vector<std::string> HostCommands() const;   // PORT arguments removed
    std::string File(const std::string& name) const; // a file of the settings directory
    std::string PackagePath() const { return package_.string(); }

    std::filesystem::path Package(const std::string& name) const { return package_ / name; }

    TemporaryDirectory dir_;
    std::filesystem::path package_;
    std::filesystem::path settings_;
    FakeWindow ui;
    std::unique_ptr<HostEmulator> host;
    installer::ProgramValues values;
    std::unique_ptr<TFtpClient> ftp;
    std::unique_ptr<installer::ApplyProcedure> procedure;
    std::vector<std::string> reports; // texts that reached the top-level error report
    std::vector<bool> busyChanges;    // BusyChanged
    bool hung = false;
    int runLimitMs = 60000; // far beyond any run of these tests; only a fault gets near it
};

// Runs `action` once, `delayMs` after it is armed, on the event loop.
class OneShot {
public:
    OneShot(int delayMs, std::function<void()> action);
    ~OneShot();

private:
    std::unique_ptr<TThreadTimer> timer_;
    std::function<void()> action_;
};

} // namespace test_support
