#pragma once
// Times as the journal, the broker's messages and the library listing write them.

#include <string>

namespace corvane {

// "2026-12-09T07:15:02Z" for a time in seconds since the epoch.
std::string isoUtc(long long secondsSinceEpoch);
// "20261209-071502" in local time, for names of files received without a program number.
std::string localStamp(long long secondsSinceEpoch);

} // namespace corvane
