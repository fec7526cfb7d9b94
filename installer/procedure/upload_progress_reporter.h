// Tells a run's observer the progress of its uploads: the progress appears with the
// first upload of a run, follows each save file at most ten times a second, keeps an
// upload's summary until the next one begins, and goes when the run ends. The status log
// is not touched.
#pragma once

#include "installer/procedure/upload_progress.h"

#include <cstdint>
#include <string>

namespace installer {

class ApplyObserver;

class UploadProgressReporter {
public:
    // Who is told, for the length of a run; null between runs.
    void Attach(ApplyObserver* observer) { observer_ = observer; }

    // An upload of the local file `localFile` begins (it is named by its file name alone).
    void Begin(const std::string& localFile);
    // Its data starts to flow: `total` bytes.
    void Start(std::int64_t total);
    // `sent` bytes are out; shown no more often than UploadProgress::kRefresh.
    void Sent(std::int64_t sent);
    // All the data is out.
    void DataSent(std::int64_t sent);
    // The upload has ended: its summary when the host kept the file.
    void Finish(bool stored);
    // The run has ended: the progress goes away.
    void EndRun();

private:
    void Show();

    ApplyObserver* observer_ = nullptr;
    UploadProgress progress_;
    bool shown_ = false;
};

} // namespace installer
