#pragma once
// Command-line settings of the two modes. Parsing reports a text instead of exiting so that
// main() alone decides the exit status.

#include <optional>
#include <string>
#include <vector>

#include "TapeCodes.h"

namespace cncsim {

constexpr int kNoCode = -1; // "none" for a code option

struct CommonOptions {
    std::string linkPath;   // --link: a symlink to the device, removed at exit
    std::string recordPath; // --record: every byte received from the host
    long exitAfterMs = 0;   // --exit-after-ms: safety limit, 0 = none
    int xon = 0x11;         // --xon
    int xoff = 0x13;        // --xoff
    bool verbose = false;   // -v: events on stderr
};

struct ReadOptions {
    CommonOptions common;
    long waitMs = 200;      // after a program opens the device, before the start code
    bool sendStart = true;  // --no-start clears it
    long startRepeatMs = 0; // resend the start code while no data came, 0 = once
    unsigned cps = 0;       // execution rate of the buffer, 0 = executed at once
    unsigned lineCps = 0;   // rate at which bytes are taken off the line, 0 = on arrival
    long buffer = 256;
    long high = -1; // -1 = derived from buffer
    long low = -1;
    long tolerance = 10; // characters allowed after DC3
    std::optional<unsigned> holdRandomSeed;
    long holdAfter = -1;  // --hold-after: one hold once this many characters came, -1 = none
    long holdMs = 10'000; // --hold-ms: how long that hold lasts
    int endOn = 0x14;     // kNoCode: no end code
    long idleMs = 0;      // end after this long without data once data came, 0 = never
    // Request mode: what came before the host opened the device again is not the reply.
    bool afterReopen = false;
    bool hostJustOpened = false; // the host's open was seen before this mode began
};

struct PunchOptions {
    CommonOptions common;
    std::string programPath; // the first --program
    // Every --program in order: punched one after the other, without waiting for the start
    // code again, as an operator punching several programs in a row would.
    std::vector<std::string> programPaths;
    std::vector<long> gapsMs; // --gaps-ms: pause before the 2nd, 3rd ... program, the last repeated
    long randomGapMaxMs = -1; // --random-gaps-ms: pauses drawn from 0..N instead
    unsigned gapSeed = 1;     // --gap-seed
    long repeat = 1;          // --repeat: the list of programs punched this many times
    TapeCode code = TapeCode::Iso;
    LineEnd lineEnd = LineEnd::Lf;
    Parity parity = Parity::None;
    int startCode = 0x11;
    bool waitForStart = true; // --no-wait clears it
    long leader = 0;
    bool dc2 = false; // DC2 after the leader
    long trailer = 0;
    int endCode = 0x14;       // kNoCode: none
    unsigned cps = 0;         // 0 = as fast as the host takes it
    long chunk = 1;           // --chunk: characters per write when --cps is 0
    long drainMs = 2000;      // how long the host may take to read the last bytes
    long lingerMs = 0;        // keep listening to the host after the output
    bool endOnReopen = false; // request mode: the host's next open ends the punch
};

// The machine punches a request, then reads the reply on the same line.
struct RequestOptions {
    PunchOptions punch;
    ReadOptions reply;
};

enum class Mode { Help, Read, Punch, Request };

struct ParsedOptions {
    Mode mode = Mode::Help;
    ReadOptions read;
    PunchOptions punch;
    RequestOptions request;
    std::string error; // non-empty: a usage error
};

ParsedOptions parseOptions(const std::vector<std::string>& args);

// "0x11", "17", "DC1" … "DC4", "XON", "XOFF", "NUL", "none" (kNoCode).
std::optional<int> parseCode(const std::string& text);

std::string usageText();

} // namespace cncsim
