#pragma once
// The send engine: the files of the send queue, framed by the machine's leaders and trailers,
// block by block onto the line.

#include <cstdint>
#include <string>

#include "transfer/UserCode.h"

namespace corvane {

struct TransferContext;

// Where a send stopped. Only three outcomes are visible to the user: completed (0), the file
// that could not be opened (1001), interrupted (everything else).
enum SendResult : int {
    SendCompleted = 0,
    SendFileNotOpened = 1001,
    SendPortNotOpened = 1002,
    SendStartCodeFailed = 1010,
    SendLeaderNullFailed = 1011,
    SendLeaderSpaceFailed = 1012,
    SendLeaderPercentFailed = 1013,
    SendHeadLineFeedFailed = 1014,
    SendLeaderUserCodeFailed = 1015,
    SendBlockFailed = 1017,
    SendInterrupted = 1018,
    SendTrailerUserCodeFailed = 1020,
    SendTrailerPercentFailed = 1021,
    SendTrailerSpaceFailed = 1022,
    SendTrailerNullFailed = 1023,
};

// Sends every file of ctx.queue (Count entries, at least one) and returns a SendResult.
// Sets ctx.state.TransferRunning for the length of the call; the caller clears
// InterruptRequest before and adds the files to the history after.
int SendNcData(TransferContext& ctx);

// "%2dH%2dM%2dS", "%2dM%2dS" or "%2dS" for a duration. Always returns 1.
int FormatRemainingTime(uint32_t milliseconds, std::string& out);
// The same in the formats given (three "%2d" for hours, minutes and seconds, two, one): the
// language of the window. An empty or missing format falls back to the one above.
int FormatRemainingTime(uint32_t milliseconds, std::string& out, const char* hoursFormat,
                        const char* minutesFormat, const char* secondsFormat);

// Copies `path` to a new temporary file named "CVN…" in the temporary folder and puts the
// copy's path (at most 259 characters) in `tempPath`, which must hold 260 bytes. Non-zero on
// success; on failure no temporary file is left behind and `tempPath` is empty.
int MakeTempCopy(const char* path, char* tempPath);

} // namespace corvane
