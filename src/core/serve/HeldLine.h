#pragma once
// The port of a served line, kept open from one transfer to the next.
//
// The engines open the port when a transfer starts and close it when it ends, and the close
// empties what the machine has sent. For a terminal that is what the user wants; for a line
// that serves a machine around the clock it loses programs: a control that punches a second
// program half a second after the first, or sends its start code (DC1) while the line still
// listens, would find nobody there. So the engines are handed a lease on a port the service
// holds: the first open opens it, every later open turns the same port to the direction
// asked (Line::setDirection) without emptying it, and a close ends the lease only. The port
// is really closed when it was lost (the next open tries it anew), when it cannot be turned in
// place, or when the service stops.

#include <memory>

#include "transfer/Line.h"

namespace corvane::serve {

class HeldLine {
public:
    explicit HeldLine(LineOpener inner) : m_inner(std::move(inner)) {}
    ~HeldLine() { release(); }
    HeldLine(const HeldLine&) = delete;
    HeldLine& operator=(const HeldLine&) = delete;

    // An opener for the engines: leases on the held port.
    LineOpener opener();
    // Closes the port for good (the service stops).
    void release();
    bool isOpen() const { return m_line != nullptr; }
    // How many times the port was really opened.
    int opens() const { return m_opens; }

private:
    friend class LeasedLine;

    OpenedLine open(const MachineDef& machine, int direction, const char* deviceFile);
    // The lease ended. `drop`: the port is of no further use (lost, or its open never ended).
    void leaseEnded(bool drop);

    LineOpener m_inner;
    // Shared with the lease, so a lease that outlives a release is never left dangling.
    std::shared_ptr<Line> m_line;
    bool m_leased = false;
    int m_opens = 0;
};

} // namespace corvane::serve
