#include "restart/ModalTracker.h"

#include <cmath>

namespace corvane {

namespace {

bool isCycle(const std::string& code) {
    static constexpr const char* cycles[] = {"73", "74", "76", "81", "82", "83",
                                             "84", "85", "86", "87", "88", "89"};
    for (const char* cycle : cycles)
        if (code == cycle)
            return true;
    return false;
}

int axisIndex(char letter) {
    for (int i = 0; i < AxisCount; ++i)
        if (AxisLetters[static_cast<size_t>(i)] == letter)
            return i;
    return -1;
}

bool hasAxisWord(const NcBlock& block) {
    for (const NcWord& word : block.words)
        if (axisIndex(word.letter) >= 0 || word.letter == 'U' || word.letter == 'V' ||
            word.letter == 'W')
            return true;
    return false;
}

} // namespace

bool IsToolChangeBlock(const NcBlock& block) {
    return block.hasM("6");
}

void ModalTracker::block(const std::string& reason, long line) {
    if (m_state.blocker.empty()) {
        m_state.blocker = reason;
        m_state.blockerLine = line;
    }
}

void ModalTracker::forgetPositions(const std::string& reason, long line) {
    for (AxisPosition& axis : m_state.position) {
        if (axis.kind == AxisKind::Never)
            continue;
        axis.kind = AxisKind::Unknown;
        axis.line = line;
        axis.reason = reason;
    }
}

// One G code; false when it is not one this tracker knows the effect of.
bool ModalTracker::applyG(const std::string& code, const NcBlock& nc, long line) {
    ModalState& s = m_state;
    auto set = [line](ModalValue& value, const std::string& text) {
        value.code = text;
        value.line = line;
    };
    if (code == "0" || code == "1" || code == "2" || code == "3" || code == "33") {
        set(s.motion, code);
    } else if (isCycle(code)) {
        if (!isCycle(s.motion.code)) {
            const AxisPosition& z = s.position[2];
            s.cycleInitialZKnown = z.kind == AxisKind::Known;
            s.cycleInitialZ = z.value;
        }
        set(s.motion, code);
    } else if (code == "80") {
        set(s.motion, code);
    } else if (code == "17" || code == "18" || code == "19") {
        set(s.plane, code);
    } else if (code == "20" || code == "21") {
        // Positions are kept in program units; a change of units makes them meaningless.
        if (s.units.set() && s.units.code != code)
            forgetPositions("the units change (G" + code + ")", line);
        set(s.units, code);
    } else if (code == "90" || code == "91") {
        set(s.distance, code);
    } else if (code == "93" || code == "94" || code == "95") {
        set(s.feedMode, code);
    } else if (code == "98" || code == "99") {
        set(s.returnLevel, code);
    } else if (code == "40" || code == "41" || code == "42") {
        set(s.compensation, code);
    } else if (code == "43" || code == "44") {
        const NcWord* h = nc.find('H');
        if (h == nullptr && !s.lengthOffset.set())
            return false; // an offset whose number the program never gave
        std::string number = h != nullptr ? NormalCode(h->text) : "";
        if (h == nullptr) {
            const size_t blank = s.lengthOffset.code.find(" H");
            if (blank == std::string::npos)
                return false;
            number = s.lengthOffset.code.substr(blank + 2);
        }
        set(s.lengthOffset, code + " H" + number);
    } else if (code == "49") {
        set(s.lengthOffset, code);
    } else if (code == "15" || code == "16") {
        if (code == "15" && s.polar.code == "16")
            forgetPositions("polar coordinates (G16)", line);
        set(s.polar, code);
    } else if (code == "68" || code == "69") {
        if (code == "69" && s.rotation.code == "68")
            forgetPositions("the coordinate rotation (G68)", line);
        set(s.rotation, code);
    } else if (code == "51") {
        set(s.scaling, code);
    } else if (code == "50") {
        // On a lathe G50 sets the coordinate system (with axes) or clamps the spindle speed
        // (with S); on a mill it cancels scaling.
        if (hasAxisWord(nc))
            return false;
        if (!nc.has('S')) {
            if (s.scaling.code == "51")
                forgetPositions("the scaling (G51)", line);
            set(s.scaling, code);
        }
    } else if (code == "54" || code == "55" || code == "56" || code == "57" || code == "58" ||
               code == "59" || code == "54.1") {
        std::string text = code;
        if (code == "54.1") {
            const NcWord* p = nc.find('P');
            if (p == nullptr)
                return false;
            text += " P" + NormalCode(p->text);
        }
        if (s.workOffset.code != text)
            forgetPositions("the work offset changes (G" + text + ")", line);
        set(s.workOffset, text);
    } else if (code == "61" || code == "62" || code == "63" || code == "64") {
        set(s.pathMode, code);
    } else if (code == "96" || code == "97") {
        set(s.surfaceSpeed, code);
    } else if (code == "4" || code == "9" || code == "10" || code == "11" || code == "28" ||
               code == "30" || code == "31" || code == "53") {
        // One-shot codes; their axis words are dealt with in move().
    } else {
        return false;
    }
    return true;
}

void ModalTracker::move(const NcBlock& nc, long line) {
    ModalState& s = m_state;
    if (nc.hasG("4") || nc.hasG("10") || nc.hasG("11") || nc.hasG("68") || nc.hasG("51"))
        return; // X and P are a dwell time, offset data or a centre here, not a position
    const bool cycleMode = isCycle(s.motion.code);
    bool cycleStarted = false;
    for (const NcWord& word : nc.words)
        if (word.letter == 'G' && isCycle(NormalCode(word.text)))
            cycleStarted = true;
    if (!hasAxisWord(nc) && !cycleStarted)
        return;

    const bool incremental = s.distance.code == "91";
    for (const NcWord& word : nc.words) {
        if (word.letter == 'U' || word.letter == 'V' || word.letter == 'W') {
            forgetPositions("the U/V/W move", line);
            break;
        }
    }

    const bool reference = nc.hasG("28") || nc.hasG("30") || nc.hasG("53") || nc.hasG("31");
    if (reference) {
        const std::string why = nc.hasG("53")   ? "the machine-coordinate move (G53)"
                                : nc.hasG("31") ? "the skip move (G31)"
                                                : "the reference return (G28/G30)";
        for (const NcWord& word : nc.words) {
            const int i = axisIndex(word.letter);
            if (i < 0)
                continue;
            AxisPosition& axis = s.position[static_cast<size_t>(i)];
            axis.kind = AxisKind::Unknown;
            axis.line = line;
            axis.reason = why;
        }
        s.lastMotion = nc.hasG("31") ? MotionKind::Feed : MotionKind::Rapid;
        s.lastMotionLine = line;
        return;
    }

    const bool transformed =
        s.polar.code == "16" || s.rotation.code == "68" || s.scaling.code == "51";
    for (const NcWord& word : nc.words) {
        const int i = axisIndex(word.letter);
        if (i < 0)
            continue;
        if (cycleMode && i == 2)
            continue; // a cycle's Z is the bottom of the hole, not where the tool stays
        AxisPosition& axis = s.position[static_cast<size_t>(i)];
        if (transformed) {
            axis.kind = AxisKind::Unknown;
            axis.line = line;
            axis.reason = "a move under polar coordinates, rotation or scaling";
        } else if (!incremental) {
            axis.kind = AxisKind::Known;
            axis.value = word.value;
        } else if (axis.kind == AxisKind::Known) {
            axis.value += word.value;
        } else if (axis.kind == AxisKind::Never) {
            axis.kind = AxisKind::Unknown;
            axis.line = line;
            axis.reason = "an incremental move from an unknown place";
        }
    }

    if (cycleMode) {
        // After each hole the tool waits at the initial level (G98) or at R (G99).
        AxisPosition& z = s.position[2];
        const NcWord* r = nc.find('R');
        if (r != nullptr)
            m_cycleR = incremental ? std::string() : r->text;
        if (incremental || transformed) {
            z.kind = AxisKind::Unknown;
            z.line = line;
            z.reason = "an incremental canned cycle";
        } else if (s.returnLevel.code == "99" && !m_cycleR.empty()) {
            z.kind = AxisKind::Known;
            z.value = std::strtod(m_cycleR.c_str(), nullptr);
        } else if (s.returnLevel.code != "99" && s.cycleInitialZKnown) {
            z.kind = AxisKind::Known;
            z.value = s.cycleInitialZ;
        } else {
            z.kind = AxisKind::Unknown;
            z.line = line;
            z.reason = "a canned cycle whose return level is not known";
        }
        s.lastMotion = MotionKind::Cycle;
    } else if (s.motion.code == "0") {
        s.lastMotion = MotionKind::Rapid;
    } else {
        // G01-G03, or a move with no motion code set (the control's default is not known).
        s.lastMotion = MotionKind::Feed;
    }
    s.lastMotionLine = line;
}

void ModalTracker::apply(const NcBlock& nc, long line) {
    ModalState& s = m_state;
    if (nc.percent || nc.empty())
        return;
    if (!nc.macro.empty()) {
        block("a macro statement (" + nc.macro + ")", line);
        return;
    }
    if (nc.blockDelete) {
        for (const NcWord& word : nc.words) {
            const bool harmless = word.letter == 'N' ||
                                  (word.letter == 'M' &&
                                   (NormalCode(word.text) == "0" || NormalCode(word.text) == "1"));
            if (!harmless) {
                block("a block skip (/) whose effect depends on the Block Skip switch", line);
                return;
            }
        }
        return;
    }
    if (nc.has('O')) {
        block("a subprogram (O) inside the file", line);
        return;
    }

    for (const NcWord& word : nc.words) {
        if (word.letter != 'G')
            continue;
        const std::string code = NormalCode(word.text);
        if (code == "92" || code == "52") {
            block("a coordinate shift (G" + code + ")", line);
            return;
        }
        if (code == "65" || code == "66" || code == "67") {
            block("a macro call (G" + code + ")", line);
            return;
        }
        if (!applyG(code, nc, line)) {
            block("G" + word.text + ", whose state the restart cannot restore", line);
            return;
        }
    }
    // G80 and G0-G3 in one block: the cycle ends and the block moves in the G0-G3 mode.
    if (nc.hasG("80")) {
        for (const char* code : {"0", "1", "2", "3"})
            if (nc.hasG(code))
                s.motion = {code, line};
    }

    if (const NcWord* f = nc.find('F'))
        s.feed = f->text;
    if (const NcWord* speed = nc.find('S'); speed != nullptr && !nc.hasG("50"))
        s.spindleSpeed = speed->text;
    if (const NcWord* t = nc.find('T')) {
        s.pendingTool = NormalCode(t->text);
        s.toolWordLine = line;
    }

    for (const NcWord& word : nc.words) {
        if (word.letter != 'M')
            continue;
        const std::string code = NormalCode(word.text);
        if (code == "98" || code == "97" || code == "99") {
            block("a subprogram call or return (M" + word.text + ")", line);
            return;
        }
        if (code == "3" || code == "4" || code == "5") {
            s.spindle = {code, line};
        } else if (code == "19") {
            s.spindle = {"5", line};
        } else if (code == "7") {
            s.mist = true;
        } else if (code == "8") {
            s.flood = true;
        } else if (code == "9") {
            s.mist = s.flood = false;
        } else if (code == "2" || code == "30") {
            if (s.endLine == 0)
                s.endLine = line;
        }
    }

    if (IsToolChangeBlock(nc)) {
        // The change itself stops the spindle and coolant and moves the head to the change
        // position; the program sets them again after it.
        s.tool = s.pendingTool;
        s.toolWordLine = 0;
        s.anyToolChange = true;
        s.spindle = {"5", line};
        s.mist = s.flood = false;
        forgetPositions("the tool change (M06)", line);
        for (size_t i = 0; i < 3; ++i) {
            AxisPosition& axis = s.position[i];
            if (axis.kind == AxisKind::Never) {
                axis.kind = AxisKind::Unknown;
                axis.line = line;
                axis.reason = "the tool change (M06)";
            }
        }
    }

    move(nc, line);
}

} // namespace corvane
