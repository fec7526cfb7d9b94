// What the progress bar says about one save file on its way to the AS/400, and when it is
// worth saying it again. Plain logic: every call brings its own time, so any clock can
// drive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

namespace installer {

class UploadProgress {
public:
    using Clock = std::chrono::steady_clock;

    // The bar changes at most this often: ten times a second reads as smooth, and the
    // upload does not pay for a redraw after every block it sends.
    static constexpr std::chrono::milliseconds kRefresh{100};
    // The rate is that of the last few seconds, so that it follows a change of speed
    // without jumping with every block.
    static constexpr std::chrono::milliseconds kRateWindow{3000};

    // An upload of `name` begins; how big it is becomes known when its data starts.
    void Begin(const std::string& name);
    // The data starts to flow at `now`: `total` bytes.
    void Start(std::int64_t total, Clock::time_point now);
    // `sent` bytes are out at `now`. True when the bar should show it: no sooner than
    // kRefresh after it last did.
    bool Advance(std::int64_t sent, Clock::time_point now);
    // All the data is out at `now` (`sent` bytes); the host has yet to confirm it.
    void DataSent(std::int64_t sent, Clock::time_point now);
    // The upload has ended: the host kept the file, or it did not.
    void Finish(bool stored);

    // How much of the file is out, 0 to 1000.
    int Permille() const;
    // "27%, 1.2 GB of 4.4 GB, 112 MB/s, 29 s left" while it is sent; once it is,
    // "Sent KDX0042.SVF: 4.4 GB in 39 s, 113 MB/s".
    std::string Text() const;

    std::int64_t Sent() const { return sent_; }
    std::int64_t Total() const { return total_; }

private:
    enum class Stage { Idle, Begun, Sending, DataSent, Stored, Failed };
    struct Sample {
        Clock::time_point time;
        std::int64_t bytes;
    };

    void TakeSample(Clock::time_point now);

    Stage stage_ = Stage::Idle;
    std::string name_;
    std::int64_t total_ = 0;
    std::int64_t sent_ = 0;
    Clock::time_point started_{};
    Clock::time_point shown_{}; // when Advance last said to show
    Clock::time_point ended_{};
    double rate_ = 0; // bytes a second over the rate window, as last shown
    std::deque<Sample> samples_;
};

} // namespace installer
