#include "serve/HeldLine.h"

#include "transfer/ForwardingLine.h"

namespace corvane::serve {

// One transfer's view of the held port: everything goes to the port except what would empty
// or hang it up between transfers.
class LeasedLine : public ForwardingLine {
public:
    LeasedLine(HeldLine& held, std::shared_ptr<Line> line, bool fresh)
        : ForwardingLine(*line), m_held(held), m_port(std::move(line)), m_ready(!fresh) {}
    ~LeasedLine() override { close(); }

    // Kept: the next program, or the start code for the next send, may be in there already.
    void purge() override {}
    // Kept up: the machine sees a line that is always ready, as it does between transfers.
    void dropDtr() override {}
    void close() override {
        if (m_closed)
            return;
        m_closed = true;
        if (m_held.m_line == m_port)
            m_held.leaseEnded(!m_ready || inner().lost());
    }
    OpenProgress continueOpen(uint64_t nowMicros) override {
        if (m_ready)
            return OpenProgress::Done;
        const OpenProgress progress = inner().continueOpen(nowMicros);
        m_ready = progress == OpenProgress::Done;
        return progress;
    }
    // Turned by the holder only, between leases.
    bool setDirection(const MachineDef&, int) override { return false; }
    std::vector<LineMessage> openWarnings() const override {
        // Said once, when the port was really opened.
        return m_warned ? std::vector<LineMessage>{} : inner().openWarnings();
    }
    void setWarned() { m_warned = true; }

private:
    HeldLine& m_held;
    std::shared_ptr<Line> m_port;
    bool m_ready;
    bool m_closed = false;
    bool m_warned = false;
};

LineOpener HeldLine::opener() {
    return [this](const MachineDef& machine, int direction, const char* deviceFile) {
        return open(machine, direction, deviceFile);
    };
}

OpenedLine HeldLine::open(const MachineDef& machine, int direction, const char* deviceFile) {
    // A device file stands for one tape: nothing to keep between transfers.
    if (deviceFile)
        return m_inner ? m_inner(machine, direction, deviceFile) : OpenedLine{};
    if (m_line) {
        // A look at the port without waiting: one whose device went while nobody read it (a
        // device server restarted, an adapter pulled out) is only found gone by a look.
        m_line->waitForChange(0);
        if (m_leased || m_line->lost() || !m_line->setDirection(machine, direction))
            release();
    }
    bool fresh = false;
    if (!m_line) {
        OpenedLine opened = m_inner ? m_inner(machine, direction, nullptr) : OpenedLine{};
        if (!opened.line)
            return opened;
        m_line = std::move(opened.line);
        ++m_opens;
        fresh = true;
    }
    m_leased = true;
    auto lease = std::make_unique<LeasedLine>(*this, m_line, fresh);
    if (!fresh)
        lease->setWarned();
    OpenedLine opened;
    opened.line = std::move(lease);
    return opened;
}

void HeldLine::leaseEnded(bool drop) {
    m_leased = false;
    if (drop)
        release();
}

void HeldLine::release() {
    if (!m_line)
        return;
    // The port's own close sequence, as the engines would have run it.
    m_line->purge();
    m_line->dropDtr();
    m_line->close();
    m_line.reset();
}

} // namespace corvane::serve
