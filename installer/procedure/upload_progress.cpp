#include "installer/procedure/upload_progress.h"

#include "installer/procedure/transfer_texts.h"

namespace installer {
namespace {

double Seconds(UploadProgress::Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

// Below this a rate says nothing: the bytes went in one go.
constexpr double kShortestRated = 0.1;

} // namespace

void UploadProgress::Begin(const std::string& name) {
    stage_ = Stage::Begun;
    name_ = name;
    total_ = 0;
    sent_ = 0;
    rate_ = 0;
    samples_.clear();
}

void UploadProgress::Start(std::int64_t total, Clock::time_point now) {
    stage_ = Stage::Sending;
    total_ = total < 0 ? 0 : total;
    sent_ = 0;
    started_ = now;
    shown_ = now;
    rate_ = 0;
    samples_.clear();
    samples_.push_back({now, 0});
}

bool UploadProgress::Advance(std::int64_t sent, Clock::time_point now) {
    if (stage_ != Stage::Sending)
        return false;
    sent_ = sent;
    if (now - shown_ < kRefresh)
        return false;
    shown_ = now;
    TakeSample(now);
    return true;
}

void UploadProgress::TakeSample(Clock::time_point now) {
    // The oldest sample kept is the last one at least a window old: the rate spans the
    // whole window once the upload has lasted that long.
    while (samples_.size() >= 2 && samples_[1].time <= now - kRateWindow)
        samples_.pop_front();
    const Sample& oldest = samples_.front();
    const double span = Seconds(now - oldest.time);
    rate_ = span > 0 ? static_cast<double>(sent_ - oldest.bytes) / span : 0;
    samples_.push_back({now, sent_});
}

void UploadProgress::DataSent(std::int64_t sent, Clock::time_point now) {
    if (stage_ != Stage::Sending)
        return;
    stage_ = Stage::DataSent;
    sent_ = sent;
    ended_ = now;
}

void UploadProgress::Finish(bool stored) {
    if (stage_ == Stage::Idle)
        return;
    stage_ = stored && stage_ == Stage::DataSent ? Stage::Stored : Stage::Failed;
}

int UploadProgress::Permille() const {
    if (stage_ == Stage::Stored)
        return 1000;
    if (stage_ == Stage::Idle || stage_ == Stage::Begun)
        return 0;
    if (total_ <= 0)
        return sent_ > 0 || stage_ == Stage::DataSent ? 1000 : 0;
    if (sent_ >= total_)
        return 1000;
    return static_cast<int>(static_cast<long double>(sent_ < 0 ? 0 : sent_) * 1000 /
                            static_cast<long double>(total_));
}

std::string UploadProgress::Text() const {
    const std::string amount = ByteCountText(sent_) + " of " + ByteCountText(total_);
    switch (stage_) {
    case Stage::Idle:
        return {};
    case Stage::Begun:
        return "Sending " + name_ + "...";
    case Stage::Sending:
    case Stage::DataSent: {
        std::string text = std::to_string(WholePercent(sent_, total_)) + "%, " + amount;
        if (rate_ > 0 && sent_ < total_) {
            text += ", " + RateText(rate_) + ", " +
                    TimeLeftText(static_cast<double>(total_ - sent_) / rate_) + " left";
        }
        return text;
    }
    case Stage::Stored: {
        const double seconds = Seconds(ended_ - started_);
        std::string text = "Sent " + name_ + ": " + ByteCountText(sent_) + " in ";
        if (seconds < kShortestRated)
            return text + "less than " + ElapsedText(kShortestRated);
        return text + ElapsedText(seconds) + ", " + RateText(static_cast<double>(sent_) / seconds);
    }
    case Stage::Failed:
        if (samples_.empty())
            return "Sending " + name_ + " failed";
        return "Sending " + name_ + " failed after " + amount;
    }
    return {};
}

} // namespace installer
