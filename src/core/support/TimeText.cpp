#include "support/TimeText.h"

#include <ctime>

namespace corvane {

namespace {

std::string timeText(long long secondsSinceEpoch, const char* format, bool utc) {
    const time_t t = static_cast<time_t>(secondsSinceEpoch);
    struct tm parts {};
    char text[32] = "";
    if (utc ? gmtime_r(&t, &parts) : localtime_r(&t, &parts))
        std::strftime(text, sizeof text, format, &parts);
    return text;
}

} // namespace

std::string isoUtc(long long secondsSinceEpoch) {
    return timeText(secondsSinceEpoch, "%Y-%m-%dT%H:%M:%SZ", true);
}

std::string localStamp(long long secondsSinceEpoch) {
    return timeText(secondsSinceEpoch, "%Y%m%d-%H%M%S", false);
}

} // namespace corvane
