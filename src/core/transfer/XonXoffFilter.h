#pragma once
// Software flow control done by us rather than by the tty driver: the kernel's IXON cannot
// take a code of 0, hides whether output is stopped, and lets USB adapters keep draining
// their queue after XOFF. Every byte the machine sends passes through here first.

#include <cstdint>

#include "transfer/Line.h"

namespace corvane {

class XonXoffFilter {
public:
    // `dropNul`: NUL bytes never reach the reader (a serial driver discarded them too);
    // a device file keeps them.
    XonXoffFilter(const FlowSettings& flow, bool dropNul) : m_flow(flow), m_dropNul(dropNul) {}

    // Takes one received byte. True when it is data for the reader; flow codes change the
    // hold and are consumed. The XON code is tested first, so a machine set up with the same
    // code for both can always release the line instead of locking it for good.
    bool take(uint8_t byte) {
        if (m_flow.xonXoff) {
            if (byte == m_flow.xon) {
                m_held = false;
                m_xonLast = true;
                return false;
            }
            if (byte == m_flow.xoff) {
                m_held = true;
                m_xonLast = false;
                return false;
            }
        }
        return !(m_dropNul && byte == 0);
    }

    bool held() const { return m_flow.xonXoff && m_held; }
    // Output waits for the machine's XON ("waiting for DC1"), unless the last flow code the
    // machine sent on this line already was its XON: a line still opening (a device server
    // agreeing on the settings) reads what the machine sends from the moment it is connected,
    // and a start code that came then must not be waited for again.
    void hold() { m_held = !m_xonLast; }
    // Forgets the codes taken so far: what the machine said during one transfer says nothing
    // about the next.
    void forget() {
        m_held = false;
        m_xonLast = false;
    }

private:
    FlowSettings m_flow;
    bool m_dropNul;
    bool m_held = false;
    bool m_xonLast = false;
};

} // namespace corvane
