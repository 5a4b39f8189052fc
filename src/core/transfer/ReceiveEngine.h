#pragma once
// Reading one NC program that the machine punches into a text file: start code, leader,
// lines through the skip rules, end mark / end code / time-out, closing message.

namespace corvane {

struct TransferContext;

// Where a receive stopped. The frame ignores it (the log carries the outcome); the terminal
// front end turns it into an exit status.
enum ReceiveResult : int {
    ReceiveDone = 0,                // data ended, or time-out (see ReceiveOutcome::timedOut)
    ReceiveInterrupted = -1,        // the user stopped it during the data or the wait for it
    ReceiveTargetNotCreated = 1000, // the target file cannot be created
    ReceivePortNotOpened = 1001,    // the port or device file cannot be opened
    ReceiveStartCodeFailed = 1010,  // start code or before user code not sent
    ReceiveAfterCodeFailed = 1020,  // after user code not sent
    ReceiveTargetWriteFailed = 1030 // the target could not be written (disk full, file gone)
};

struct ReceiveOutcome {
    int result = ReceiveDone;
    int lastChar = 0; // last value of ReceiveTapeChar; -2 means the data ended by time-out
    int lines = 0;    // lines stored in the target
    bool timedOut() const { return result == ReceiveDone && lastChar == -2; }
};

// Receives into `path` (created or truncated). Runs to the end inside the call, pumping the
// host after every character. `outcome`, when given, gets the details behind the result.
int ReceiveNcData(TransferContext& ctx, const char* path, ReceiveOutcome* outcome = nullptr);

// The same receive, stored into `storePath` while the log and the title name `path`: the file
// the data is meant for, when it arrives into a temporary file beside it (ReceiveIntoFile.h).
int ReceiveNcDataInto(TransferContext& ctx, const char* path, const char* storePath,
                      ReceiveOutcome* outcome = nullptr);

} // namespace corvane
