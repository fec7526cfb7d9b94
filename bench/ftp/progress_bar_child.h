// The upload of the benchmark once more, with the installer's main window open (on the
// offscreen platform) and its progress bar following the upload exactly as during an Apply:
// what showing the progress costs an upload.
#pragma once

#include <string>

namespace bench {

// One TFtpClient upload with the main window open, and with `showProgress` its progress
// bar following the upload; prints "<data seconds> <total seconds> <times the bar
// changed> <CPU seconds of the data phase> <seconds spent showing the progress>", as the
// plain child prints its first two.
int ChildUploadInWindow(bool passive, int port, const std::string& file, const std::string& remote,
                        bool showProgress);

} // namespace bench
