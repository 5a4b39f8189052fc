#pragma once
// What choosing NC files needs besides the dialog itself: the name filters it offers, the
// queue entries made from the chosen paths, the folder remembered for the next choice, and
// the texts of the send list's columns. Kept free of any window system so that the GUI's
// file dialog stays a thin call and everything it relies on can be checked in plain tests.

#include "support/StringTable.h"
#include "transfer/TransferState.h"

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

namespace corvane {

// `SendQueueEntry::WriteTime` is a Windows file time on every platform: 100-ns ticks since
// 1601-01-01 UTC. Queues made on either system then compare and print alike.
constexpr uint64_t FileTimeTicksPerSecond = 10'000'000;
constexpr uint64_t FileTimeUnixEpoch = 116'444'736'000'000'000; // 1970-01-01 00:00 UTC

uint64_t fileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);
// Whole seconds since 1970 (rounded down, also before 1970).
int64_t unixFromFileTime(uint64_t fileTime);

// A usable default extension: not empty and not a wildcard ("*", "*.*").
bool defaultExtensionIsUsable(const char* defExt);

struct NameFilter {
    std::string label;                 // "NC file", "All files"
    std::vector<std::string> patterns; // "*.nc", ...
};

// The filters of the NC file dialog, the first one selected: "NC file" for `defExt` when it
// is usable, then always "All files". Outside Windows file names are case-sensitive while
// machine controls often write upper-case names, so the NC filter there matches the
// extension as given and in lower and upper case.
std::vector<NameFilter> ncFileFilters(Language language, const char* defExt);

// A path the user chose, with what the file system said about it.
struct ChosenFile {
    std::string path;
    bool found = false;
    uint64_t writeTime = 0; // file time, see above
    uint64_t size = 0;
};

ChosenFile lookUpChosenFile(const std::string& path);

// Fills entries[0..] with `files` in their order, at most `capacity` of them; the rest are
// dropped. A path that does not fit `Name` is skipped rather than cut, since a cut path would
// name another file. Size keeps the low 32 bits; a file that was not found gets 0 and 0.
// Returns the number of entries filled.
int fillSendEntries(std::span<const ChosenFile> files, SendQueueEntry* entries, int capacity);

// Stores the folder of `chosenPath`, with its trailing separator, into `defDir`, so the next
// file dialog opens there. 0 (and `defDir` untouched) when the path has no folder part or the
// folder does not fit.
int rememberFolder(std::span<char> defDir, const char* chosenPath);

// Column texts of the send list. Years 1900..1999 are shown with two digits, any other in
// full; the hour is shown modulo 12 after "AM"/"PM" (12:05 reads "PM 00:05").
std::string formatListDate(Language language, const std::tm& local);
std::string formatListTime(Language language, const std::tm& local);
// The size with a comma between groups of three digits: 1200000 reads "1,200,000".
std::string formatListSize(uint32_t size);

// The local time of a file time. False for 0 (the time was never known) and for times the
// system cannot convert.
bool localTimeOfFileTime(uint64_t fileTime, std::tm& local);

} // namespace corvane
