#include "ReaderMode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "Pty.h"
#include "SignalWatch.h"

namespace cncsim {

namespace {

constexpr int kSliceMs = 20; // no wait blocks longer, so signals and limits are seen promptly

// Random holds for soak runs: short enough to keep a run moving, frequent enough to be hit
// in the middle of blocks.
constexpr int64_t kRandomGapMinUs = 100'000;
constexpr int64_t kRandomGapMaxUs = 800'000;
constexpr int64_t kRandomHoldMinUs = 20'000;
constexpr int64_t kRandomHoldMaxUs = 250'000;

constexpr int64_t kFinalDrainUs = 500'000;

unsigned burstFor(unsigned cps) {
    return std::max(1u, cps / 50); // what one 20 ms slice may catch up
}

} // namespace

ReaderMode::ReaderMode(const ReadOptions& options, Pty& pty, SignalWatch& signals)
    : m_options(options), m_pty(pty), m_signals(signals), m_startUs(monotonicUs()),
      m_report(options.common.verbose, m_startUs),
      m_execution(options.cps, burstFor(options.cps), m_startUs),
      m_line(options.lineCps, burstFor(options.lineCps), m_startUs),
      m_waitingForOpen(options.afterReopen), m_random(options.holdRandomSeed.value_or(0)) {}

int ReaderMode::run() {
    if (m_options.hostJustOpened && m_options.sendStart)
        m_startDueUs = m_startUs + m_options.waitMs * 1000;
    if (!m_options.common.recordPath.empty()) {
        std::string error;
        if (!m_recorder.open(m_options.common.recordPath, error)) {
            m_report.failure(error);
            return 1;
        }
    }
    while (m_outcome == Outcome::Running) {
        int64_t now = monotonicUs();
        tick(now);
        if (m_outcome != Outcome::Running)
            break;

        bool wantLine = m_line.available(now) >= 1;
        pollfd fds[3] = {{m_signals.fd(), POLLIN, 0},
                         {m_pty.watchFd(), POLLIN, 0},
                         {wantLine ? m_pty.master() : -1, POLLIN, 0}};
        int ready = ::poll(fds, 3, pollTimeout(now));
        if (ready < 0 && errno != EINTR) {
            m_report.failure(std::string("poll: ") + std::strerror(errno));
            m_outcome = Outcome::Failed;
            break;
        }
        now = monotonicUs();
        if (fds[1].revents & POLLIN) {
            if (m_pty.readClientEvents() > 0) {
                m_report.event("host opened the device");
                m_waitingForOpen = false;
                // A host that opens the port anew may flush what was sent before: the start
                // code is due again until data comes.
                if (m_options.sendStart && !m_dataStarted)
                    m_startDueUs = now + m_options.waitMs * 1000;
            }
        }
        if (fds[2].revents & POLLIN)
            readLine(now);
        else if (fds[2].revents & (POLLHUP | POLLERR))
            ::poll(nullptr, 0, kSliceMs); // no host on the line; wait a slice, never spin
    }

    if (m_lineHeld)
        closeHoldEvent();
    if (m_outcome == Outcome::Ended)
        letHostReadCodes();
    if (m_lost > 0) {
        ++m_alarms;
        m_report.alarm("buffer overflow: " + std::to_string(m_lost) +
                       " characters found the buffer full");
    }
    std::printf("received %llu bytes, max after DC3 %ld, alarms %d\n",
                (unsigned long long)m_received, m_maxAfterHold, m_alarms);
    std::printf("holds %llu, total after DC3 %llu\n", (unsigned long long)m_holds,
                (unsigned long long)m_totalAfterHold);
    std::fflush(stdout);

    switch (m_outcome) {
    case Outcome::TimeLimit:
        m_report.failure("time limit of " + std::to_string(m_options.common.exitAfterMs) +
                         " ms reached before the end of the program");
        return 1;
    case Outcome::Stopped:
        m_report.failure("stopped by a signal");
        return 1;
    case Outcome::Failed:
        return 1;
    default:
        return m_alarms > 0 ? 1 : 0;
    }
}

void ReaderMode::tick(int64_t nowUs) {
    if (m_signals.stopRequested()) {
        m_outcome = Outcome::Stopped;
        return;
    }
    if (m_options.common.exitAfterMs > 0 &&
        nowUs - m_startUs >= m_options.common.exitAfterMs * 1000) {
        m_outcome = Outcome::TimeLimit;
        return;
    }
    if (m_startDueUs >= 0 && nowUs >= m_startDueUs) {
        sendCode(m_options.common.xon, "start");
        m_startDueUs = m_options.startRepeatMs > 0 ? nowUs + m_options.startRepeatMs * 1000 : -1;
    }
    // The control executes its buffer at its own pace.
    if (m_options.cps > 0 && m_fill > 0) {
        long executed = long(std::min<size_t>(size_t(m_fill), m_execution.available(nowUs)));
        m_execution.take(size_t(executed));
        m_fill -= executed;
    }
    updateRandomHold(nowUs);
    updateFixedHold(nowUs);
    updateBufferHold();
    if (m_dataStarted && m_options.idleMs > 0 && !m_lineHeld &&
        nowUs - m_quietSinceUs >= m_options.idleMs * 1000) {
        m_report.event("no data for " + std::to_string(m_options.idleMs) + " ms: end");
        m_outcome = Outcome::Ended;
    }
}

void ReaderMode::readLine(int64_t nowUs) {
    uint8_t buffer[512];
    size_t want = std::min(sizeof buffer, m_line.available(nowUs));
    ssize_t n = ::read(m_pty.master(), buffer, want);
    if (n <= 0)
        return;
    if (m_waitingForOpen)
        return; // the end of the request's own transfer, not the reply
    m_line.take(size_t(n));
    // Byte by byte, so that the XOFF goes out at the very character that reached the high
    // mark and the count after it is exact even when the host wrote a block at once.
    uint8_t kept[sizeof buffer];
    size_t keptCount = 0;
    for (ssize_t i = 0; i < n; ++i) {
        // A control waiting for the tape takes no notice of the host's DC1 and DC3: they are
        // the start and end codes of a receive (a host that listens on the line between its
        // sends), not the program, so they neither start the data nor stop the start code.
        if (!m_dataStarted &&
            (isCode(buffer[i], m_options.common.xon) || isCode(buffer[i], m_options.common.xoff))) {
            m_report.event("ignored " + codeName(buffer[i] & 0x7F) + " before the data");
            continue;
        }
        kept[keptCount++] = buffer[i];
        onByte(buffer[i], nowUs);
    }
    m_recorder.write(kept, keptCount);
}

void ReaderMode::onByte(uint8_t byte, int64_t nowUs) {
    ++m_received;
    m_quietSinceUs = nowUs;
    if (!m_dataStarted) {
        m_dataStarted = true;
        m_startDueUs = -1;
        m_report.event("data started");
    }
    if (m_lineHeld)
        ++m_afterHold;
    // The count decides, not the clock: the hold comes at the same character in every run.
    if (m_options.holdAfter >= 0 && m_fixedHoldEndUs < 0 &&
        m_received >= uint64_t(m_options.holdAfter)) {
        m_fixedHold = true;
        m_fixedHoldEndUs = nowUs + m_options.holdMs * 1000;
        setLineHeld(true);
    }
    if (m_options.cps > 0) {
        if (m_fill < m_options.buffer)
            ++m_fill;
        else
            ++m_lost;
        updateBufferHold();
    }
    if (isEndCode(byte) && m_outcome == Outcome::Running) {
        m_report.event("end code " + codeName(byte) + " received");
        m_outcome = Outcome::Ended;
    }
}

bool ReaderMode::isCode(uint8_t byte, int code) {
    return code >= 0 && (byte == code || (code < 0x80 && (byte & 0x7F) == code));
}

bool ReaderMode::isEndCode(uint8_t byte) const {
    if (m_options.endOn == kNoCode)
        return false;
    // A host that sends with even parity puts bit 7 on some codes; the control ignores it.
    return byte == m_options.endOn || (m_options.endOn < 0x80 && (byte & 0x7F) == m_options.endOn);
}

void ReaderMode::updateBufferHold() {
    if (m_options.cps == 0)
        return;
    if (!m_bufferHold && m_fill >= m_options.high)
        m_bufferHold = true;
    else if (m_bufferHold && m_fill <= m_options.low)
        m_bufferHold = false;
    setLineHeld(m_bufferHold || m_randomHold || m_fixedHold);
}

void ReaderMode::updateRandomHold(int64_t nowUs) {
    if (!m_options.holdRandomSeed || !m_dataStarted)
        return;
    auto draw = [this](int64_t min, int64_t max) {
        return std::uniform_int_distribution<int64_t>(min, max)(m_random);
    };
    if (m_nextRandomUs < 0) {
        m_nextRandomUs = nowUs + draw(kRandomGapMinUs, kRandomGapMaxUs);
        return;
    }
    if (nowUs < m_nextRandomUs)
        return;
    m_randomHold = !m_randomHold;
    m_nextRandomUs = nowUs + (m_randomHold ? draw(kRandomHoldMinUs, kRandomHoldMaxUs)
                                           : draw(kRandomGapMinUs, kRandomGapMaxUs));
    setLineHeld(m_bufferHold || m_randomHold || m_fixedHold);
}

void ReaderMode::updateFixedHold(int64_t nowUs) {
    if (!m_fixedHold || nowUs < m_fixedHoldEndUs)
        return;
    m_fixedHold = false;
    setLineHeld(m_bufferHold || m_randomHold);
}

void ReaderMode::setLineHeld(bool held) {
    if (held == m_lineHeld)
        return;
    m_lineHeld = held;
    if (held) {
        m_heldSinceUs = monotonicUs();
        ++m_holds;
        m_afterHold = 0;
        sendCode(m_options.common.xoff, m_bufferHold  ? "buffer at the high mark"
                                        : m_fixedHold ? "fixed hold"
                                                      : "random hold");
    } else {
        sendCode(m_options.common.xon, "line released");
        closeHoldEvent();
        // The time held does not count as the host's silence.
        const int64_t now = monotonicUs();
        m_quietSinceUs = std::min(now, m_quietSinceUs + (now - m_heldSinceUs));
    }
}

void ReaderMode::closeHoldEvent() {
    m_maxAfterHold = std::max(m_maxAfterHold, m_afterHold);
    m_totalAfterHold += uint64_t(m_afterHold);
    if (m_afterHold > m_options.tolerance) {
        ++m_alarms;
        m_report.alarm("overflow: " + std::to_string(m_afterHold) + " characters after DC3");
    }
    m_afterHold = 0;
}

void ReaderMode::letHostReadCodes() {
    // Closing the master hangs the line up and throws away what the host has not read yet; a
    // DC3 sent just before the end code would vanish from the host's view.
    // A code just written may still be in the kernel's buffer, not yet counted as unread: only
    // a spell with nothing unread tells that the host has it.
    const int64_t until = monotonicUs() + kFinalDrainUs;
    int64_t allReadSince = -1;
    while (!m_signals.stopRequested()) {
        const int64_t now = monotonicUs();
        if (m_pty.unreadByClient() > 0)
            allReadSince = -1;
        else if (allReadSince < 0)
            allReadSince = now;
        if ((allReadSince >= 0 && now - allReadSince >= Pty::kSettleUs) || now >= until)
            break;
        ::poll(nullptr, 0, 5);
    }
}

bool ReaderMode::sendCode(int code, const char* why) {
    auto byte = uint8_t(code);
    // The line toward the host is idle apart from these codes, so a full queue means the host
    // has stopped reading; one short retry is all a control would do.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::write(m_pty.master(), &byte, 1) == 1) {
            m_report.event("sent " + codeName(code) + ": " + why);
            return true;
        }
        pollfd out{m_pty.master(), POLLOUT, 0};
        ::poll(&out, 1, kSliceMs);
    }
    m_report.failure("could not send " + codeName(code) + ": " + std::strerror(errno));
    return false;
}

int ReaderMode::pollTimeout(int64_t nowUs) {
    int64_t deadline = nowUs + kSliceMs * 1000;
    auto consider = [&deadline](int64_t at) { deadline = std::min(deadline, at); };
    if (m_startDueUs >= 0)
        consider(m_startDueUs);
    if (m_options.cps > 0 && m_fill > 0)
        consider(m_execution.nextAt(nowUs));
    if (m_line.available(nowUs) < 1)
        consider(m_line.nextAt(nowUs));
    if (m_nextRandomUs >= 0)
        consider(m_nextRandomUs);
    if (m_fixedHold)
        consider(m_fixedHoldEndUs);
    if (m_dataStarted && m_options.idleMs > 0 && !m_lineHeld)
        consider(m_quietSinceUs + m_options.idleMs * 1000);
    if (m_options.common.exitAfterMs > 0)
        consider(m_startUs + m_options.common.exitAfterMs * 1000);
    return pollTimeoutMs(nowUs, deadline, kSliceMs);
}

} // namespace cncsim
