#pragma once
// The line as the service hands it to the engines: the real line, passed through unchanged,
// with a note of what the service must know and the engines do not tell it: when the first
// byte came (the end of the listen), how many bytes came, and whether the device went away.

#include <cstdint>
#include <functional>
#include <memory>

#include "transfer/ForwardingLine.h"

namespace corvane::serve {

struct LineWatch {
    // While the service only listens (nothing received yet), a wait for a byte blocks up to
    // this long, however short a slice the port layer asks for: an idle line then wakes a few
    // times a second instead of fifty, which is what keeps a service that listens for days
    // near zero CPU. Nothing is delayed by it: the wait ends the moment a byte arrives. Only
    // a stop or a command from outside is noticed up to this much later.
    bool listening = false;
    uint64_t listenSliceMicros = 0;

    // While listening, what a machine leaves between programs -- leader, line ends, spaces,
    // DEL, the DC codes (a line feed after the closing %, a DC4 end code, the DC1 of a
    // control put in read mode) -- is taken off the line and dropped: it is no program, and
    // must neither start a receive that then ends as a failed one nor make the line look busy
    // to a send. `eia`: the machine punches EIA, whose codes are translated first.
    bool eia = false;
    uint64_t skipped = 0; // such bytes dropped since the last reset

    bool firstByte = false;
    bool lost = false;
    uint64_t bytesRead = 0;
    uint64_t bytesWritten = 0;         // every byte the port took, codes and leader included
    std::function<void()> onFirstByte; // called once, when the first data byte is read
    // Called at the first byte written or read through a line after its open: the port is
    // there and in use (a network line is connected by then).
    std::function<void()> onInUse;

    void reset() {
        firstByte = false;
        lost = false;
        skipped = 0;
        bytesRead = 0;
        bytesWritten = 0;
    }
};

class WatchedLine : public ForwardingLine {
public:
    WatchedLine(std::unique_ptr<Line> inner, LineWatch& watch)
        : ForwardingLine(*inner), m_inner(std::move(inner)), m_watch(watch) {}

    bool writeByte(uint8_t byte, uint64_t waitMicros) override {
        noteInUse();
        const bool written = m_inner->writeByte(byte, waitMicros);
        m_watch.bytesWritten += written ? 1 : 0;
        noteLost();
        return written;
    }
    ReadResult readByte(uint64_t waitMicros) override;
    bool lost() const override {
        const bool gone = m_inner->lost();
        if (gone)
            m_watch.lost = true;
        return gone;
    }

private:
    void noteLost() { (void)lost(); }
    void noteInUse() {
        if (m_inUse)
            return;
        m_inUse = true;
        if (m_watch.onInUse)
            m_watch.onInUse();
    }

    std::unique_ptr<Line> m_inner;
    LineWatch& m_watch;
    bool m_inUse = false;
};

// True for a byte (as it came off the line) that a machine may leave between two programs.
bool isBetweenPrograms(uint8_t byte, bool eia);

// An opener that wraps every line `inner` opens.
LineOpener watchedOpener(LineOpener inner, LineWatch& watch);

} // namespace corvane::serve
