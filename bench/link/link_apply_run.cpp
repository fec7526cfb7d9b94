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

// What the run tells: its status log is kept; nothing else is shown.
class BenchObserver : public installer::ApplyObserver {
public:
    std::vector<std::string> log;

    void BusyChanged(bool) override {}
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
        BenchObserver ui;
        installer::ApplyRequest request;
        request.packageDirectory = std::string(argv[5]) + "/";
        platform::SetSettingsDirectory(request.packageDirectory);
        // An IPv6 address stands in brackets before its port, as an operator types it.
        const std::string host = argv[1];
        request.ipAddress =
            (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + argv[2];
        const std::optional<installer::DataConnectionChoice> mode =
            installer::ParseDataConnection(argv[4]);
        if (!mode || std::strlen(argv[4]) == 0) {
            std::fprintf(stderr, "link_apply_run: no data connection mode %s\n", argv[4]);
            return 2;
        }
        request.connection.dataConnection = *mode;
        request.userId = "QSECOFR";
        request.password = argv[3];
        request.targetLibrary = "QGPL";
        const auto values = installer::LoadProgramValues(request.packageDirectory + "apply-update");
        TFtpClient ftp;
        installer::ApplyProcedure procedure(ftp, values);
        std::vector<std::string> reports;
        if (const std::string refusal = procedure.Refusal(request); !refusal.empty())
            reports.push_back(refusal);
        const double start = Now();
        const installer::ApplyResult result = procedure.Run(request, ui);
        const double seconds = Now() - start;
        if (result.error)
            reports.push_back(platform::ExceptionMessage(result.error));
        const bool installed =
            reports.empty() && std::any_of(ui.log.begin(), ui.log.end(), [](const std::string& l) {
                return l.find("successfully applied") != std::string::npos &&
                       l.find("not successfully") == std::string::npos;
            });
        if (!installed) {
            for (const auto& line : ui.log)
                std::fprintf(stderr, "log: %s\n", line.c_str());
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
