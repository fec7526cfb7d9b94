// One whole apply run (the installer's apply procedure, without its window) against the host
// emulator, for the link benchmark (run inside the near namespace):
//
//   link_apply_run HOST PORT PASSWORD active|passive|auto PACKAGE_DIRECTORY
//
// The package directory holds update.Ini and the save files it names. Prints
// "<seconds> <lines of the status log>" for a run that installed the update, from the press of
// Apply until the procedure returns; otherwise the status log on standard error, exit 1.
#include "ftp/ftp_client.h"
#include "installer/procedure/apply_procedure.h"
#include "installer/procedure/apply_ui.h"
#include "installer/procedure/connection_options.h"
#include "installer/procedure/program_values.h"
#include "platform/application_exception.h"
#include "platform/event_pump.h"
#include "platform/paths.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The window's part, answered as an operator who filled the fields and pressed Apply would.
class BenchUi : public installer::ApplyUi {
public:
    std::string directory; // with a trailing "/"
    std::string fields[4];
    std::vector<std::string> log;
    std::vector<std::string> dialogs;
    installer::ConnectionOptions connection;

    void ShowMessage(const std::string& text) override { dialogs.push_back(text); }
    void ErrorDialog(const std::string& text) override { dialogs.push_back(text); }
    bool ReadmeAcknowledged() const override { return true; }
    int ShowReadmeModal() override { return installer::mrOk; }
    void SetBusyCursor() override {}
    void SetNormalCursor() override {}
    void SetWindowEnabled(bool) override {}
    void SetControlEnabled(installer::ApplyControl, bool) override {}
    std::string FieldText(installer::ApplyField field) const override {
        return fields[static_cast<int>(field)];
    }
    bool FieldSendable(installer::ApplyField) const override { return true; }
    bool ReplaceChecked() const override { return false; }
    int NameFormatIndex() const override { return installer::kNameFmtNoOverride; }
    installer::ConnectionOptions ConnectionChoice() const override { return connection; }
    bool ConfirmCertificate(const installer::CertificateQuestion&) override { return false; }
    void ClearLog() override { log.clear(); }
    void AddLine(const std::string& message, int blankLines) override {
        for (int i = 0; i < blankLines; ++i)
            log.push_back(" ");
        log.push_back(message);
    }
    void ShowUploadProgress(int, const std::string&) override {}
    void HideUploadProgress() override {}
    void ShowConnectionSecurity(const std::string&) override {}
    std::string ExecutablePath() const override { return directory + "apply-update"; }
    std::string ExecutableDirectory() const override { return directory; }
    bool FileExists(const std::string& path) const override { return platform::FileExists(path); }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: link_apply_run HOST PORT PASSWORD active|passive|auto "
                             "PACKAGE_DIRECTORY\n");
        return 2;
    }
    try {
        platform::EnsureApplication();
        BenchUi ui;
        ui.directory = std::string(argv[5]) + "/";
        platform::SetSettingsDirectory(ui.directory);
        std::vector<std::string> reports;
        platform::SetExceptionHandler(
            [&](const std::string& message) { reports.push_back(message); });
        // An IPv6 address stands in brackets before its port, as an operator types it.
        const std::string host = argv[1];
        ui.fields[static_cast<int>(installer::ApplyField::SystemEdt)] =
            (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + argv[2];
        const std::optional<installer::DataConnectionChoice> mode =
            installer::ParseDataConnection(argv[4]);
        if (!mode || std::strlen(argv[4]) == 0) {
            std::fprintf(stderr, "link_apply_run: no data connection mode %s\n", argv[4]);
            return 2;
        }
        ui.connection.dataConnection = *mode;
        ui.fields[static_cast<int>(installer::ApplyField::UserIdEdt)] = "QSECOFR";
        ui.fields[static_cast<int>(installer::ApplyField::PassEdt)] = argv[3];
        ui.fields[static_cast<int>(installer::ApplyField::TargetLibEdt)] = "QGPL";
        const auto values = installer::LoadProgramValues(ui.ExecutablePath());
        TFtpClient ftp;
        installer::ApplyProcedure procedure(ui, ftp, values);
        const double start = Now();
        procedure.ApplyBtnClick();
        const double seconds = Now() - start;
        const bool installed =
            reports.empty() && std::any_of(ui.log.begin(), ui.log.end(), [](const std::string& l) {
                return l.find("successfully applied") != std::string::npos &&
                       l.find("not successfully") == std::string::npos;
            });
        if (!installed) {
            for (const auto& line : ui.log)
                std::fprintf(stderr, "log: %s\n", line.c_str());
            for (const auto& text : ui.dialogs)
                std::fprintf(stderr, "dialog: %s\n", text.c_str());
            for (const auto& text : reports)
                std::fprintf(stderr, "error: %s\n", text.c_str());
            return 1;
        }
        std::printf("%.6f %zu\n", seconds, ui.log.size());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "link_apply_run: %s\n", error.what());
        return 1;
    }
}
