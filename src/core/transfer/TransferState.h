#pragma once
// Program-wide transfer state. One instance of each lives in the application object and is
// passed by reference; nothing here is global.

#include <cstdint>

namespace corvane {

constexpr int SendQueueCapacity = 32;

struct SendQueueEntry {
    char Name[260] = {};
    uint64_t WriteTime = 0; // last-write time, filled by the file selection only
    uint32_t Size = 0;      // low 32 bits of the size when queued, 0 when not found
};

struct SendQueue {
    int Count = 0;
    int Position = 0; // the file being sent; used by the send engine only
    SendQueueEntry Entries[SendQueueCapacity];
};

struct TransferState {
    int InterruptRequest = 0; // 0 none, 1 interrupt, 2 interrupt and close afterwards
    bool TransferBusy = false;
    bool TransferRunning = false;
};

} // namespace corvane
