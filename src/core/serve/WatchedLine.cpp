#include "serve/WatchedLine.h"

#include <algorithm>

namespace corvane::serve {

ReadResult WatchedLine::readByte(uint64_t waitMicros) {
    if (m_watch.listening && !m_watch.firstByte)
        waitMicros = std::max(waitMicros, m_watch.listenSliceMicros);
    const ReadResult r = m_inner->readByte(waitMicros);
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
