#pragma once
// What another program sends to the running instance over its local socket, and the hand-over
// record a second start passes on. Pure: decoding never touches the file system, so every
// accept/refuse rule can be tested and fuzzed on bytes alone.
//
// A request on the socket is {kind u32, size u32, size bytes}; the answer is one i32. All
// integers little-endian.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// Request kinds.
constexpr uint32_t LinkKindHandOverPath = 0xC0000001;   // one zero-terminated NC file path
constexpr uint32_t LinkKindHandOverRecord = 0xC0000002; // the 528-byte record below
// One more zero-terminated NC file path for the send a record with HandOverMoreFiles opened;
// a LinkKindCommand 5000 then sends them all as one list.
constexpr uint32_t LinkKindHandOverMore = 0xC0000003;
constexpr uint32_t LinkKindCommand = 0x0111;     // a command id as u32 (5000, 5001)
constexpr uint32_t LinkKindStatusQuery = 0x05FE; // a status query: wParam as u32

// The record: flags u32, notify window u32, machine path [260], file path [260].
constexpr size_t HandOverRecordSize = 528;
constexpr size_t HandOverPathField = 260;
constexpr uint32_t HandOverHasMachine = 1;
constexpr uint32_t HandOverHasFile = 2;
constexpr uint32_t HandOverHasNotify = 4;
// The record's file is the first of several: the queue waits for the LinkKindHandOverMore
// requests and a command 5000 instead of being sent at once.
constexpr uint32_t HandOverMoreFiles = 8;

// Largest request body a reader accepts; anything larger is refused before it is read.
constexpr uint32_t LinkRequestMaxSize = 4096;

struct HandOverRequest {
    uint32_t flags = 0;
    uint32_t notifyWindow = 0; // meaningful with HandOverHasNotify
    std::string machinePath;   // meaningful with HandOverHasMachine
    std::string filePath;      // meaningful with HandOverHasFile (and for the short form)
};

// Decodes a hand-over of either kind. Nothing when the request must be ignored: a record
// shorter than 528 bytes, a path field without a terminator inside its 260 bytes, a path
// longer than a queue entry holds (259), a short form without a terminator, an unknown kind.
// For the short form (and LinkKindHandOverMore) only filePath is filled and flags is
// HandOverHasFile.
std::optional<HandOverRequest> DecodeHandOver(uint32_t kind, const uint8_t* data, size_t size);

// The record a second start sends: a flag for each part given (empty path, 0 window: not
// given). Nothing when a path does not fit its field with its terminator.
// With `moreFiles` the record opens a list (HandOverMoreFiles).
std::optional<std::array<uint8_t, HandOverRecordSize>>
EncodeHandOver(const std::string& machinePath, const std::string& filePath, uint32_t notifyWindow,
               bool moreFiles = false);

// One framed request as it travels on the socket.
std::vector<uint8_t> EncodeLinkRequest(uint32_t kind, const uint8_t* data, size_t size);

struct LinkRequest {
    uint32_t kind = 0;
    std::vector<uint8_t> data;
};

// Incremental reader of framed requests: feed whatever bytes arrived, take whole requests out.
// A header announcing more than LinkRequestMaxSize puts the reader in a failed state for good
// (the connection is to be dropped).
class LinkRequestReader {
public:
    void feed(const uint8_t* bytes, size_t count);
    std::optional<LinkRequest> next();
    bool failed() const { return m_failed; }

private:
    std::vector<uint8_t> m_buffer;
    bool m_failed = false;
};

} // namespace corvane
