#include "installer/procedure/upload_progress_reporter.h"

#include "installer/procedure/apply_observer.h"
#include "platform/paths.h"

namespace installer {

void UploadProgressReporter::Begin(const std::string& localFile) {
    progress_.Begin(platform::ExtractFileName(localFile));
    Show();
}

void UploadProgressReporter::Start(std::int64_t total) {
    progress_.Start(total, UploadProgress::Clock::now());
    Show();
}

void UploadProgressReporter::Sent(std::int64_t sent) {
    if (progress_.Advance(sent, UploadProgress::Clock::now()))
        Show();
}

void UploadProgressReporter::DataSent(std::int64_t sent) {
    progress_.DataSent(sent, UploadProgress::Clock::now());
    Show();
}

void UploadProgressReporter::Finish(bool stored) {
    progress_.Finish(stored);
    Show();
}

void UploadProgressReporter::EndRun() {
    if (!shown_)
        return;
    shown_ = false;
    if (observer_ != nullptr)
        observer_->HideUploadProgress();
}

void UploadProgressReporter::Show() {
    shown_ = true;
    if (observer_ != nullptr)
        observer_->ShowUploadProgress(progress_.Permille(), progress_.Text());
}

} // namespace installer
