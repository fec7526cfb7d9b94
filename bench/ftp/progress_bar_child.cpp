#include "progress_bar_child.h"

#include "bench_processes.h"
#include "ftp/ftp_client.h"
#include "installer/procedure/upload_progress_reporter.h"
#include "installer/window/main_window.h"
#include "installer/window/upload_progress_bar.h"
#include "platform/event_pump.h"

#include <QApplication>

#include <cstdio>
#include <ctime>

namespace bench {
namespace {

// The main window, counting how often the progress it shows changes and timing what each
// change costs, the bar's repaint included (done at once here, so that it is timed, instead
// of on the next pass of the event loop).
class CountingWindow : public installer::TApplyUpdateForm {
public:
    using TApplyUpdateForm::TApplyUpdateForm;
    void ShowUploadProgress(int permille, const std::string& text) override {
        const double begin = Now();
        TApplyUpdateForm::ShowUploadProgress(permille, text);
        UploadProgressBar->repaint();
        seconds += Now() - begin;
        ++changes;
    }
    int changes = 0;
    double seconds = 0;
};

} // namespace

int ChildUploadInWindow(bool passive, int port, const std::string& file, const std::string& remote,
                        bool showProgress) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::ChooseEventDispatcher();
    int argc = 1;
    char name[] = "ftp_upload_bench";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    // No package beside this path: the window starts with its defaults.
    CountingWindow window("/nonexistent/apply-update");
    window.show();

    TFtpClient ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = port;
    ftp.UserID = "anonymous";
    ftp.Password = "bench@";
    ftp.Passive = passive;
    ftp.ReportLevel = 1;
    double storAt = 0;
    std::clock_t storCpu = 0;
    ftp.OnStatus = [&](TComponent*, const std::string& status) {
        if (status.rfind("STOR ", 0) == 0) {
            storAt = Now();
            storCpu = std::clock();
        }
    };
    // Hooked up as the apply procedure hooks the window's progress.
    installer::UploadProgressReporter progress;
    progress.Attach(&window);
    if (showProgress) {
        ftp.OnTransactionStart = [&](TObject*) { progress.Start(ftp.BytesTotal); };
        ftp.OnPacketSent = [&](TObject*) { progress.Sent(ftp.BytesSent()); };
        ftp.OnTransactionStop = [&](TObject*) { progress.DataSent(ftp.BytesSent()); };
    }

    const double start = Now();
    ftp.Connect();
    ftp.Mode(2);
    if (showProgress)
        progress.Begin(file);
    ftp.Upload(file, remote);
    if (showProgress)
        progress.Finish(true);
    const double stored = Now();
    const double dataCpu = static_cast<double>(std::clock() - storCpu) / CLOCKS_PER_SEC;
    ftp.Disconnect();
    progress.EndRun();
    std::printf("%.6f %.6f %d %.6f %.6f\n", stored - storAt, Now() - start, window.changes, dataCpu,
                window.seconds);
    return 0;
}

} // namespace bench
