// The words and numbers of the upload progress, and how often it asks to be shown, on a
// clock the test plays.
#include "installer/procedure/transfer_texts.h"
#include "installer/procedure/upload_progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>

namespace {

using installer::UploadProgress;
using namespace std::chrono_literals;

constexpr std::int64_t kGiB = std::int64_t{1} << 30;

TEST(TransferTextsTest, AmountsRatesAndTimesInTheirUnits) {
    struct Case {
        std::string got, expected;
    };
    const Case cases[] = {
        {installer::ByteCountText(0), "0 bytes"},
        {installer::ByteCountText(1), "1 byte"},
        {installer::ByteCountText(999), "999 bytes"},
        {installer::ByteCountText(1000), "1.0 KB"},
        {installer::ByteCountText(9949), "9.9 KB"},
        {installer::ByteCountText(9950), "10 KB"},
        {installer::ByteCountText(999499), "999 KB"},
        {installer::ByteCountText(999500), "1.0 MB"},
        {installer::ByteCountText(4724464026), "4.7 GB"}, // 4.4 GiB
        {installer::ByteCountText(5 * kGiB), "5.4 GB"},
        {installer::ByteCountText(std::numeric_limits<std::int64_t>::max()), "9.2 EB"},
        {installer::RateText(0), "0 bytes/s"},
        {installer::RateText(-5), "0 bytes/s"},
        {installer::RateText(999.4), "999 bytes/s"},
        {installer::RateText(850e3), "850 KB/s"},
        {installer::RateText(112.4e6), "112 MB/s"},
        {installer::TimeLeftText(0), "0 s"},
        {installer::TimeLeftText(0.2), "1 s"},
        {installer::TimeLeftText(29), "29 s"},
        {installer::TimeLeftText(250), "4 min 10 s"},
        {installer::TimeLeftText(4321), "1 h 12 min"},
        {installer::TimeLeftText(1e300), "8888 h 53 min"},
        {installer::ElapsedText(0.44), "0.4 s"},
        {installer::ElapsedText(39.4), "39 s"},
        {installer::ElapsedText(250), "4 min 10 s"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.expected);
}

TEST(TransferTextsTest, WholePercentBeyond32BitsNeverReaches100Early) {
    EXPECT_EQ(installer::WholePercent(0, 5 * kGiB), 0);
    EXPECT_EQ(installer::WholePercent(4 * kGiB + 1, 5 * kGiB), 80);
    EXPECT_EQ(installer::WholePercent(5 * kGiB - 1, 5 * kGiB), 99);
    EXPECT_EQ(installer::WholePercent(5 * kGiB, 5 * kGiB), 100);
    EXPECT_EQ(installer::WholePercent(0, 0), 100);
}

class UploadProgressTest : public ::testing::Test {
protected:
    UploadProgress::Clock::time_point At(std::chrono::milliseconds offset) const {
        return start + offset;
    }
    UploadProgress progress;
    const UploadProgress::Clock::time_point start{std::chrono::hours(1)};
};

TEST_F(UploadProgressTest, ShowsAtMostTenTimesASecondHoweverOftenBlocksGo) {
    progress.Begin("KDX0042.SVF");
    progress.Start(5 * kGiB, At(0ms));
    int shown = 0;
    // A block every 50 microseconds for two seconds.
    for (int block = 1; block <= 40000; ++block) {
        if (progress.Advance(std::int64_t{block} * 65536,
                             At(std::chrono::milliseconds(block / 20))))
            ++shown;
    }
    EXPECT_EQ(shown, 20);
}

TEST_F(UploadProgressTest, TextsFollowTheUploadFromStartToSummary) {
    progress.Begin("KDX0042.SVF");
    EXPECT_EQ(progress.Text(), "Sending KDX0042.SVF...");
    EXPECT_EQ(progress.Permille(), 0);
    const std::int64_t total = 4400000000;
    progress.Start(total, At(0ms));
    EXPECT_EQ(progress.Text(), "0%, 0 bytes of 4.4 GB");

    ASSERT_TRUE(progress.Advance(1120000000, At(10000ms)));
    EXPECT_EQ(progress.Text(), "25%, 1.1 GB of 4.4 GB, 112 MB/s, 30 s left");
    EXPECT_EQ(progress.Permille(), 254);
    // The rate is that of the last seconds: a slower stretch shows at once.
    ASSERT_TRUE(progress.Advance(1180000000, At(13000ms)));
    EXPECT_EQ(progress.Text(), "26%, 1.2 GB of 4.4 GB, 20 MB/s, 2 min 41 s left");

    progress.DataSent(total, At(39000ms));
    EXPECT_EQ(progress.Text(), "100%, 4.4 GB of 4.4 GB");
    progress.Finish(true);
    EXPECT_EQ(progress.Text(), "Sent KDX0042.SVF: 4.4 GB in 39 s, 113 MB/s");
    EXPECT_EQ(progress.Permille(), 1000);
}

TEST_F(UploadProgressTest, SharesBeyond4GiBAndTheEndsOfShortAndFailedUploads) {
    progress.Begin("BIG.SVF");
    progress.Start(5 * kGiB, At(0ms));
    ASSERT_TRUE(progress.Advance(4 * kGiB + kGiB / 2, At(100ms)));
    EXPECT_EQ(progress.Permille(), 900);
    EXPECT_EQ(progress.Text().substr(0, 22), "90%, 4.8 GB of 5.4 GB,");
    progress.Finish(false); // the host refused it, or the run was stopped
    EXPECT_EQ(progress.Text(), "Sending BIG.SVF failed after 4.8 GB of 5.4 GB");

    progress.Begin("W_CHKLCKSF.SVF");
    progress.Finish(false); // before any data went
    EXPECT_EQ(progress.Text(), "Sending W_CHKLCKSF.SVF failed");

    progress.Begin("W_CHKLCKSF.SVF");
    progress.Start(5000, At(0ms));
    progress.DataSent(5000, At(20ms));
    progress.Finish(true);
    EXPECT_EQ(progress.Text(), "Sent W_CHKLCKSF.SVF: 5.0 KB in less than 0.1 s");

    progress.Begin("EMPTY.SVF");
    progress.Start(0, At(0ms));
    progress.DataSent(0, At(1ms));
    EXPECT_EQ(progress.Permille(), 1000);
}

} // namespace
