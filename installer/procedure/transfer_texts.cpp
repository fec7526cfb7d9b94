#include "installer/procedure/transfer_texts.h"

#include <cmath>
#include <cstdio>

namespace installer {
namespace {

// `value` in `unit`, one decimal below 10, none above; "" when it would read 1000 or more
// in that unit (the next unit reads it better).
std::string InUnit(double value, const char* unit) {
    char text[48];
    if (std::round(value * 10) / 10 < 10)
        std::snprintf(text, sizeof text, "%.1f %s", value, unit);
    else if (std::round(value) < 1000)
        std::snprintf(text, sizeof text, "%.0f %s", value, unit);
    else
        return {};
    return text;
}

std::string Scaled(double amount, const char* suffix) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = amount;
    std::string text;
    for (const char* unit : kUnits) {
        value /= 1000;
        text = InUnit(value, unit);
        if (!text.empty())
            return text + suffix;
    }
    // Beyond every unit: the largest one, whatever the number.
    char last[64];
    std::snprintf(last, sizeof last, "%.0f EB%s", value, suffix);
    return last;
}

std::string HoursMinutesSeconds(long long seconds) {
    const long long hours = seconds / 3600;
    const long long minutes = seconds / 60 % 60;
    if (hours > 0)
        return std::to_string(hours) + " h " + std::to_string(minutes) + " min";
    if (minutes > 0)
        return std::to_string(minutes) + " min " + std::to_string(seconds % 60) + " s";
    return std::to_string(seconds) + " s";
}

} // namespace

std::string ByteCountText(std::int64_t bytes) {
    if (bytes < 1000)
        return std::to_string(bytes < 0 ? 0 : bytes) + (bytes == 1 ? " byte" : " bytes");
    return Scaled(static_cast<double>(bytes), "");
}

std::string RateText(double bytesPerSecond) {
    if (!(bytesPerSecond > 0))
        return "0 bytes/s";
    if (std::round(bytesPerSecond) < 1000)
        return std::to_string(std::llround(bytesPerSecond)) + " bytes/s";
    return Scaled(bytesPerSecond, "/s");
}

std::string TimeLeftText(double seconds) {
    if (!(seconds > 0))
        return "0 s";
    // A year is more than any upload takes; the bound keeps the conversion defined.
    return HoursMinutesSeconds(static_cast<long long>(std::ceil(std::fmin(seconds, 3.2e7))));
}

std::string ElapsedText(double seconds) {
    if (!(seconds > 0))
        return "0.0 s";
    if (seconds < 9.95) {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f s", seconds);
        return text;
    }
    return HoursMinutesSeconds(std::llround(std::fmin(seconds, 3.2e7)));
}

int WholePercent(std::int64_t part, std::int64_t whole) {
    if (whole <= 0 || part >= whole)
        return 100;
    if (part <= 0)
        return 0;
    // In floating point: part * 100 overflows 64 bits long before a file could.
    const int percent =
        static_cast<int>(static_cast<long double>(part) * 100 / static_cast<long double>(whole));
    return percent > 99 ? 99 : percent;
}

} // namespace installer
