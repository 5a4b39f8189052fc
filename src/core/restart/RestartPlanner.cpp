#include "restart/RestartPlanner.h"

#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <optional>

#include "restart/ModalTracker.h"
#include "restart/NcBlock.h"

namespace corvane {

namespace {

constexpr size_t AllowedPlacesShown = 3;

bool isCycleCode(const std::string& code) {
    return code == "73" || code == "74" || code == "76" ||
           (code.size() == 2 && code[0] == '8' && code[1] >= '1' && code[1] <= '9');
}

std::string gCode(const std::string& code) {
    return "G" + (code.size() == 1 ? "0" + code : code);
}

std::string lineText(long line) {
    return "line " + std::to_string(line);
}

bool isProgramNumberLine(const std::string& line) {
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i + 1 >= line.size())
        return false;
    const char c = line[i];
    if (c == '<')
        return true;
    return (c == 'O' || c == 'o' || c == ':') &&
           std::isdigit(static_cast<unsigned char>(line[i + 1]));
}

// A block the restart could begin at, with the state before it. Most blocks are looked at
// once and left, so the view refers to the tracker's state instead of copying it.
struct CandidateView {
    long line = 0;
    uint64_t offset = 0;
    const NcBlock& block;
    const ModalState& before;
    bool toolChange = false;
};

// A block kept: the target, or a T block waiting for the block after it.
struct Candidate {
    long line = 0;
    uint64_t offset = 0;
    NcBlock block;
    ModalState before;
    bool toolChange = false;

    CandidateView view() const { return {line, offset, block, before, toolChange}; }
};

// Why a restart at this block is not safe; empty when it is. Without `explain` the reason is
// only a mark: most blocks of a long program are refused, and only one reason is ever shown.
std::string refusalAt(const CandidateView& c, bool explain) {
    const ModalState& s = c.before;
    auto because = [explain](auto text) {
        return explain ? std::string(text()) : std::string("-");
    };
    if (s.endLine != 0)
        return because([&] {
            return "it comes after the end of the program (M30/M02 at " + lineText(s.endLine) + ")";
        });
    if (!s.blocker.empty())
        return because([&] {
            return "the machine state after " + lineText(s.blockerLine) +
                   " is not known: " + s.blocker;
        });
    if (isCycleCode(s.motion.code))
        return because([&] {
            return "it is inside a canned cycle (" + gCode(s.motion.code) + " at " +
                   lineText(s.motion.line) + ", not yet cancelled by G80)";
        });
    if (s.compensation.code == "41" || s.compensation.code == "42")
        return because([&] {
            return "it is inside cutter compensation (" + gCode(s.compensation.code) + " at " +
                   lineText(s.compensation.line) + ")";
        });
    if (s.polar.code == "16")
        return because(
            [&] { return "polar coordinates are active (G16 at " + lineText(s.polar.line) + ")"; });
    if (s.rotation.code == "68")
        return because([&] {
            return "coordinate rotation is active (G68 at " + lineText(s.rotation.line) + ")";
        });
    if (s.scaling.code == "51")
        return because(
            [&] { return "scaling is active (G51 at " + lineText(s.scaling.line) + ")"; });
    if (s.surfaceSpeed.code == "96")
        return because([&] {
            return "constant surface speed is active (G96 at " + lineText(s.surfaceSpeed.line) +
                   "), whose speed clamp the header cannot know";
        });
    if (c.toolChange) {
        if (!c.block.has('T') && s.pendingTool.empty())
            return because([&] { return "the tool this M06 loads was never named by a T word"; });
        return {};
    }
    if (s.toolWordLine != 0 && !s.anyToolChange)
        return because([&] {
            return "the tool in use is not known: the T word at " + lineText(s.toolWordLine) +
                   " is not loaded by an M06";
        });
    if (s.lastMotion == MotionKind::Feed || s.lastMotion == MotionKind::Cycle)
        return because([&] {
            return "the move before it (" + lineText(s.lastMotionLine) +
                   ") is not a rapid: the tool would re-enter the work mid-cut";
        });
    for (int i = 0; i < AxisCount; ++i) {
        const AxisPosition& axis = s.position[static_cast<size_t>(i)];
        if (axis.kind == AxisKind::Unknown)
            return because([&] {
                return std::string("the ") + AxisLetters[static_cast<size_t>(i)] +
                       " position before it is not known (" + axis.reason + " at " +
                       lineText(axis.line) + ")";
            });
    }
    return {};
}

std::vector<std::string> headerFor(const CandidateView& c) {
    const ModalState& s = c.before;
    std::vector<std::string> header;

    std::string modal;
    auto add = [&modal](const std::string& word) {
        if (!modal.empty())
            modal += ' ';
        modal += word;
    };
    if (s.units.set())
        add(gCode(s.units.code));
    if (s.plane.set())
        add(gCode(s.plane.code));
    if (s.feedMode.set())
        add(gCode(s.feedMode.code));
    if (s.workOffset.set())
        add("G" + s.workOffset.code);
    // Compensation and cycles are off here (a restart inside them is refused); saying so
    // clears whatever the interrupted run left behind.
    add("G40");
    add("G80");
    if (s.lengthOffset.code == "49")
        add("G49");
    if (s.polar.set())
        add(gCode(s.polar.code));
    if (s.rotation.set())
        add(gCode(s.rotation.code));
    if (s.scaling.set())
        add(gCode(s.scaling.code));
    if (s.surfaceSpeed.set())
        add(gCode(s.surfaceSpeed.code));
    if (s.pathMode.set())
        add(gCode(s.pathMode.code));
    // The return level is restored whenever the program set it, not only when a cycle
    // follows: a control's own default differs from the state the full run had.
    if (s.returnLevel.set())
        add(gCode(s.returnLevel.code));
    header.push_back(modal);

    const bool offsetOn = s.lengthOffset.set() && s.lengthOffset.code != "49";
    if (c.toolChange) {
        // The tool change block sets the tool; the program sets spindle, coolant, offset and
        // position after it. A lone M06 loads the tool named before it.
        if (!c.block.has('T'))
            header.push_back("T" + s.pendingTool);
        if (offsetOn)
            header.push_back("G" + s.lengthOffset.code);
        // The speed stays set across the change (the spindle only stops); a program that
        // starts the new tool with M03 alone relies on it.
        if (!s.spindleSpeed.empty())
            header.push_back("S" + s.spindleSpeed);
    } else {
        if (!s.tool.empty())
            header.push_back("T" + s.tool + " M06");
        if (!s.pendingTool.empty() && s.pendingTool != s.tool)
            header.push_back("T" + s.pendingTool);
        if (s.spindle.code == "3" || s.spindle.code == "4") {
            std::string line;
            if (!s.spindleSpeed.empty())
                line = "S" + s.spindleSpeed + " ";
            header.push_back(line + "M0" + s.spindle.code);
        }
        std::string xy;
        for (int i : {0, 1, 3, 4, 5}) {
            const AxisPosition& axis = s.position[static_cast<size_t>(i)];
            if (axis.kind == AxisKind::Known)
                xy += std::string(" ") + AxisLetters[static_cast<size_t>(i)] +
                      FormatCoordinate(axis.value);
        }
        // The way back is written in absolute coordinates whatever the program's distance
        // mode; that mode is restored on the last line.
        if (!xy.empty())
            header.push_back("G90 G00" + xy);
        const AxisPosition& z = s.position[2];
        const std::string zWord =
            z.kind == AxisKind::Known ? "Z" + FormatCoordinate(z.value) : std::string();
        if (offsetOn)
            header.push_back(zWord.empty() ? "G" + s.lengthOffset.code
                                           : "G90 G00 G" + s.lengthOffset.code + " " + zWord);
        else if (!zWord.empty())
            header.push_back("G90 G00 " + zWord);
        if (s.mist)
            header.push_back("M07");
        if (s.flood)
            header.push_back("M08");
    }
    // Last, so the header's own rapids leave the distance and motion modes as the program
    // had them.
    std::string last;
    if (s.distance.set())
        last = gCode(s.distance.code);
    if (s.motion.set() && s.motion.code != "80")
        last += (last.empty() ? "" : " ") + gCode(s.motion.code);
    if (!s.feed.empty())
        last += (last.empty() ? "F" : " F") + s.feed;
    if (!last.empty())
        header.push_back(last);
    return header;
}

class Planner {
public:
    Planner(std::FILE* program, const RestartPlace& place) : m_file(program), m_place(place) {}
    RestartPlan run();

private:
    void consider(const CandidateView& candidate);
    std::string placeName(const CandidateView& c) const;
    void refuse(const std::string& what, const std::string& why);

    std::FILE* m_file;
    RestartPlace m_place;
    RestartPlan m_plan;
    bool m_found = false;
    bool m_refused = false;
    std::optional<Candidate> m_target;
    std::deque<std::string> m_allowed;               // the last allowed places before the target
    std::vector<std::pair<long, long>> m_toolCounts; // tool, changes so far
    long m_toolOccurrence = 0;
    long m_startLines = 0;
    long m_lines = 0;
};

void Planner::refuse(const std::string& what, const std::string& why) {
    if (m_refused)
        return;
    m_refused = true;
    m_plan.allowed = false;
    std::string text = "cannot restart at " + what + ": " + why + ".";
    if (m_allowed.empty()) {
        text += " No earlier place allows a restart.";
    } else {
        text += " Nearest earlier places to restart:";
        for (auto it = m_allowed.rbegin(); it != m_allowed.rend(); ++it)
            text += (it == m_allowed.rbegin() ? " " : ", ") + *it;
    }
    m_plan.refusal = text;
}

std::string Planner::placeName(const CandidateView& c) const {
    if (c.toolChange && c.block.has('T')) {
        const std::string tool = NormalCode(c.block.find('T')->text);
        return "T" + tool + (m_toolOccurrence > 1 ? ":" + std::to_string(m_toolOccurrence) : "") +
               " (" + lineText(c.line) + ")";
    }
    if (const NcWord* n = c.block.find('N'))
        return "N" + NormalCode(n->text) + " (" + lineText(c.line) + ")";
    return "L" + std::to_string(c.line);
}

void Planner::consider(const CandidateView& c) {
    m_toolOccurrence = 0;
    if (c.toolChange && c.block.has('T')) {
        const long tool = std::strtol(NormalCode(c.block.find('T')->text).c_str(), nullptr, 10);
        bool counted = false;
        for (auto& [number, count] : m_toolCounts)
            if (number == tool) {
                m_toolOccurrence = ++count;
                counted = true;
            }
        if (!counted) {
            m_toolCounts.emplace_back(tool, 1);
            m_toolOccurrence = 1;
        }
    }

    const NcWord* n = c.block.find('N');
    if (m_found) {
        if (m_place.kind == RestartPlace::Kind::Block && n != nullptr &&
            std::strtol(n->text.c_str(), nullptr, 10) == m_place.number)
            refuse(m_place.text + " (" + lineText(m_target->line) + ")",
                   "the program has a second block N" + std::to_string(m_place.number) + " at " +
                       lineText(c.line) + "; name the line with L instead");
        return;
    }

    bool match = false;
    switch (m_place.kind) {
    case RestartPlace::Kind::Line:
        match = m_place.number > m_startLines && c.line >= m_place.number;
        break;
    case RestartPlace::Kind::Block:
        match = n != nullptr && std::strtol(n->text.c_str(), nullptr, 10) == m_place.number;
        break;
    case RestartPlace::Kind::Tool:
        match =
            m_toolOccurrence == m_place.occurrence &&
            std::strtol(NormalCode(c.block.find('T')->text).c_str(), nullptr, 10) == m_place.number;
        break;
    }

    if (!match) {
        if (refusalAt(c, false).empty()) {
            m_allowed.push_back(placeName(c));
            if (m_allowed.size() > AllowedPlacesShown)
                m_allowed.pop_front();
        }
        return;
    }
    const std::string why = refusalAt(c, true);
    m_found = true;
    m_target = Candidate{c.line, c.offset, c.block, c.before, c.toolChange};
    if (m_place.kind == RestartPlace::Kind::Line) {
        // The rest begins at the line asked for, even when comments come before the block.
        m_target->line = m_place.number;
    }
    if (!why.empty())
        refuse(m_place.text + " (" + lineText(m_target->line) + ")", why);
}

RestartPlan Planner::run() {
    if (std::fseek(m_file, 0, SEEK_SET) != 0) {
        m_plan.refusal = "cannot read the program";
        return m_plan;
    }
    char* buffer = nullptr;
    size_t capacity = 0;
    ssize_t got = 0;
    uint64_t offset = 0;
    bool inStart = true;
    uint64_t targetLineOffset = 0;
    ModalTracker tracker;
    std::optional<Candidate> pending; // a T block waiting to see whether an M06 follows

    while ((got = ::getline(&buffer, &capacity, m_file)) > 0) {
        const std::string_view raw(buffer, static_cast<size_t>(got));
        ++m_lines;
        const uint64_t lineOffset = offset;
        offset += static_cast<uint64_t>(got);
        if (m_lines == 1 && raw.size() >= 2 && raw.substr(raw.size() - 2) == "\r\n")
            m_plan.lineEnd = "\r\n";
        std::string_view text = raw;
        if (!text.empty() && text.back() == '\n')
            text.remove_suffix(1);
        const NcBlock block = ParseNcBlock(text);

        if (inStart) {
            const bool number = isProgramNumberLine(std::string(text));
            if (number || block.percent || block.empty()) {
                m_plan.startLength = offset;
                m_startLines = m_lines;
                if (number)
                    inStart = false;
                continue;
            }
            inStart = false;
        }
        if (m_place.kind == RestartPlace::Kind::Line && m_lines == m_place.number)
            targetLineOffset = lineOffset;

        if (block.empty() || block.percent)
            continue;

        if (pending) {
            pending->toolChange = block.hasM("6");
            consider(pending->view());
            pending.reset();
        }
        const bool toolChange = IsToolChangeBlock(block);
        if (block.has('T') && !toolChange && !m_found)
            pending = Candidate{m_lines, lineOffset, block, tracker.state(), false};
        else
            consider(CandidateView{m_lines, lineOffset, block, tracker.state(), toolChange});
        if (m_found) {
            std::string upper;
            if (!block.macro.empty()) {
                upper = text;
                for (char& ch : upper)
                    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            }
            if (block.hasM("99") || upper.find("GOTO") != std::string::npos)
                refuse(m_place.text + " (" + lineText(m_target->line) + ")",
                       "the program jumps back at " + lineText(m_lines) +
                           " (M99 or GOTO), to blocks a restarted program no longer holds");
        }
        tracker.apply(block, m_lines);
    }
    if (pending)
        consider(pending->view());
    const bool readFailed = std::ferror(m_file) != 0;
    std::free(buffer);

    if (readFailed) {
        m_plan.allowed = false;
        m_plan.refusal = "cannot read the program";
        return m_plan;
    }
    if (m_refused)
        return m_plan;
    if (!m_found) {
        std::string why;
        switch (m_place.kind) {
        case RestartPlace::Kind::Line:
            if (m_place.number > m_lines)
                why = "the program has only " + std::to_string(m_lines) + " lines";
            else if (m_place.number <= m_startLines)
                why = "that is the program's start; send the program as it is";
            else
                why = "no block follows that line";
            break;
        case RestartPlace::Kind::Block:
            why = "the program has no block N" + std::to_string(m_place.number);
            break;
        case RestartPlace::Kind::Tool: {
            long changes = 0;
            for (const auto& [number, count] : m_toolCounts)
                if (number == m_place.number)
                    changes = count;
            why = changes == 0
                      ? "the program has no change to tool T" + std::to_string(m_place.number)
                      : "the program changes to tool T" + std::to_string(m_place.number) +
                            " only " + std::to_string(changes) + " time(s)";
            break;
        }
        }
        // Every allowed place of the program is before the end.
        refuse(m_place.text, why);
        return m_plan;
    }

    Candidate& target = *m_target;
    m_plan.allowed = true;
    m_plan.line = target.line;
    m_plan.atToolChange = target.toolChange;
    m_plan.tailOffset = m_place.kind == RestartPlace::Kind::Line ? targetLineOffset : target.offset;
    m_plan.comment =
        m_place.kind == RestartPlace::Kind::Line
            ? "(RESTART AT LINE " + std::to_string(target.line) + ")"
            : "(RESTART AT " + m_place.text + " LINE " + std::to_string(target.line) + ")";
    m_plan.header = headerFor(target.view());
    return m_plan;
}

bool copyRange(std::FILE* in, uint64_t from, uint64_t length, bool toEnd, std::FILE* out) {
    if (::fseeko(in, static_cast<off_t>(from), SEEK_SET) != 0)
        return false;
    char chunk[65536];
    uint64_t left = length;
    while (toEnd || left > 0) {
        const size_t want =
            toEnd ? sizeof chunk : static_cast<size_t>(std::min<uint64_t>(left, sizeof chunk));
        const size_t got = std::fread(chunk, 1, want, in);
        if (got == 0)
            break;
        if (std::fwrite(chunk, 1, got, out) != got)
            return false;
        left -= std::min<uint64_t>(left, got);
    }
    return std::ferror(in) == 0 && (toEnd || left == 0);
}

} // namespace

std::string FormatCoordinate(double value) {
    if (std::fabs(value) < 0.00005)
        value = 0;
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", value);
    std::string out(text);
    while (!out.empty() && out.back() == '0')
        out.pop_back();
    if (out == "-.")
        out = "0.";
    return out;
}

namespace {

// The text of the first comment on a line, blanks around it removed.
std::string firstComment(std::string_view line) {
    const size_t open = line.find('(');
    if (open == std::string_view::npos)
        return {};
    const size_t close = line.find(')', open + 1);
    std::string_view text = line.substr(
        open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return std::string(text);
}

} // namespace

std::vector<ToolChange> ListToolChanges(std::FILE* program) {
    std::vector<ToolChange> changes;
    if (std::fseek(program, 0, SEEK_SET) != 0)
        return changes;
    char* buffer = nullptr;
    size_t capacity = 0;
    ssize_t got = 0;
    long line = 0;
    std::string previousLine;
    std::optional<ToolChange> pending; // a T block waiting to see whether an M06 follows
    std::vector<std::pair<long, long>> counts;
    auto record = [&](ToolChange change) {
        for (auto& [tool, count] : counts)
            if (tool == change.tool) {
                change.occurrence = ++count;
                changes.push_back(change);
                return;
            }
        counts.emplace_back(change.tool, 1);
        changes.push_back(change);
    };
    while ((got = ::getline(&buffer, &capacity, program)) > 0) {
        ++line;
        std::string_view text(buffer, static_cast<size_t>(got));
        if (!text.empty() && text.back() == '\n')
            text.remove_suffix(1);
        const NcBlock block = ParseNcBlock(text);
        if (!block.empty() && !block.percent) {
            if (pending) {
                if (block.hasM("6"))
                    record(*pending);
                pending.reset();
            }
            if (const NcWord* t = block.find('T')) {
                ToolChange change;
                change.tool = std::strtol(NormalCode(t->text).c_str(), nullptr, 10);
                change.line = line;
                change.comment = firstComment(text);
                if (change.comment.empty())
                    change.comment = firstComment(previousLine);
                if (block.hasM("6"))
                    record(change);
                else
                    pending = change;
            }
        }
        previousLine.assign(text);
    }
    std::free(buffer);
    return changes;
}

RestartPlan PlanRestart(std::FILE* program, const RestartPlace& place) {
    Planner planner(program, place);
    return planner.run();
}

bool WriteRestartProgram(std::FILE* program, const RestartPlan& plan, std::FILE* out) {
    if (!plan.allowed)
        return false;
    if (!copyRange(program, 0, plan.startLength, false, out))
        return false;
    std::string head = plan.comment + plan.lineEnd;
    for (const std::string& line : plan.header)
        head += line + plan.lineEnd;
    if (std::fwrite(head.data(), 1, head.size(), out) != head.size())
        return false;
    if (!copyRange(program, plan.tailOffset, 0, true, out))
        return false;
    return std::fflush(out) == 0 && std::ferror(out) == 0;
}

} // namespace corvane
