#pragma once
// Follows an ISO program block by block and keeps what a control would hold at each point:
// the modal groups, the tool, the offsets, spindle, coolant, feed and where the tool stands.
// Whatever it cannot know for certain is recorded with the line that made it so, so that a
// restart can be refused with a reason instead of resting on a guess.

#include <array>
#include <cstdlib>
#include <string>

#include "restart/NcBlock.h"

namespace corvane {

// A modal value as the program last set it, and the line that did (0: never set).
struct ModalValue {
    std::string code; // "17", "54.1 P3", "43 H2"; empty when never set
    long line = 0;

    bool set() const { return !code.empty(); }
};

enum class AxisKind { Never, Known, Unknown };

struct AxisPosition {
    AxisKind kind = AxisKind::Never; // Never: the program has not moved this axis yet
    double value = 0;
    long line = 0;      // where it became unknown
    std::string reason; // why it is unknown
};

enum class MotionKind { None, Rapid, Feed, Cycle };

constexpr int AxisCount = 6;
constexpr std::array<char, AxisCount> AxisLetters = {'X', 'Y', 'Z', 'A', 'B', 'C'};

struct ModalState {
    ModalValue motion;       // "0".."3", a cycle "81".., or "80"
    ModalValue plane;        // 17 18 19
    ModalValue units;        // 20 21
    ModalValue distance;     // 90 91
    ModalValue feedMode;     // 93 94 95
    ModalValue returnLevel;  // 98 99
    ModalValue workOffset;   // 54..59, "54.1 Pn"
    ModalValue compensation; // 40 41 42
    ModalValue lengthOffset; // "43 Hn", "44 Hn", "49"
    ModalValue polar;        // 15 16
    ModalValue rotation;     // 68 69
    ModalValue scaling;      // 50 51
    ModalValue pathMode;     // 61 64
    ModalValue surfaceSpeed; // 96 97

    std::string tool;        // the tool loaded by the last M06 ("" before any)
    std::string pendingTool; // the last T word
    long toolWordLine = 0;   // a T word that no M06 has loaded yet (lathe-style calls)
    bool anyToolChange = false;
    std::string spindleSpeed; // last S
    ModalValue spindle;       // "3", "4", "5"
    bool mist = false;        // M07
    bool flood = false;       // M08
    std::string feed;         // last F

    std::array<AxisPosition, AxisCount> position;
    double cycleInitialZ = 0;
    bool cycleInitialZKnown = false;

    MotionKind lastMotion = MotionKind::None;
    long lastMotionLine = 0;

    // What makes every later restart unsafe: a macro, a subprogram call, a coordinate shift,
    // a code this tracker does not know. Empty while none.
    std::string blocker;
    long blockerLine = 0;

    long endLine = 0; // M02/M30
};

class ModalTracker {
public:
    const ModalState& state() const { return m_state; }
    // Runs one block, read from line `line` of the file.
    void apply(const NcBlock& block, long line);

private:
    void block(const std::string& reason, long line);
    void forgetPositions(const std::string& reason, long line);
    bool applyG(const std::string& code, const NcBlock& block, long line);
    void move(const NcBlock& block, long line);

    ModalState m_state;
    std::string m_cycleR; // the R level of the running canned cycle, as written
};

// Whether a block is a tool change by itself (M06 in it).
bool IsToolChangeBlock(const NcBlock& block);

} // namespace corvane
