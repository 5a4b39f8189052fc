#include "serve/WatchedLine.h"

#include <algorithm>

#include "transfer/TapeCode.h"

namespace corvane::serve {

bool isBetweenPrograms(uint8_t byte, bool eia) {
    const uint8_t code = static_cast<uint8_t>((eia ? EiaReceiveTable[byte] : byte) & 0x7F);
    switch (code) {
    case 0x00: // leader (and every EIA code that stands for nothing)
    case '\n':
    case '\r':
    case ' ':
    case 0x11: // DC1 .. DC4
    case 0x12:
    case 0x13:
    case 0x14:
    case 0x7F: // DEL, tape feed
        return true;
    default:
        return false;
    }
}

ReadResult WatchedLine::readByte(uint64_t waitMicros) {
    noteInUse();
    const bool beforeData = m_watch.listening && !m_watch.firstByte;
    if (beforeData)
        waitMicros = std::max(waitMicros, m_watch.listenSliceMicros);
    ReadResult r = m_inner->readByte(waitMicros);
    // What is there already is taken without waiting again; once nothing is, the engine's
    // next read waits.
    while (beforeData && r.status == ReadStatus::Byte && isBetweenPrograms(r.byte, m_watch.eia)) {
        ++m_watch.skipped;
        r = m_inner->readByte(0);
    }
    if (r.status == ReadStatus::Byte) {
        ++m_watch.bytesRead;
        if (!m_watch.firstByte) {
            m_watch.firstByte = true;
            if (m_watch.onFirstByte)
                m_watch.onFirstByte();
        }
    } else if (r.status == ReadStatus::Error) {
        noteLost();
    }
    return r;
}

LineOpener watchedOpener(LineOpener inner, LineWatch& watch) {
    return [inner = std::move(inner), &watch](const MachineDef& machine, int direction,
                                              const char* deviceFile) {
        OpenedLine opened = inner ? inner(machine, direction, deviceFile) : OpenedLine{};
        if (opened.line)
            opened.line = std::make_unique<WatchedLine>(std::move(opened.line), watch);
        return opened;
    };
}

} // namespace corvane::serve
