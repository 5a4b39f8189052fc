#include "PunchMode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "Pty.h"
#include "SignalWatch.h"

namespace cncsim {

namespace {

constexpr int kSliceMs = 20;

} // namespace

std::vector<uint8_t> punchBytes(const PunchOptions& options, const std::vector<uint8_t>& program) {
    std::vector<uint8_t> out(size_t(options.leader), 0x00);
    if (options.dc2)
        out.push_back(0x12);
    out.insert(out.end(), program.begin(), program.end());
    out.insert(out.end(), size_t(options.trailer), 0x00);
    if (options.endCode != kNoCode)
        out.push_back(uint8_t(options.endCode));
    return out;
}

PunchMode::PunchMode(const PunchOptions& options, std::vector<std::vector<uint8_t>> outputs,
                     Pty& pty, SignalWatch& signals)
    : m_options(options), m_outputs(std::move(outputs)), m_random(options.gapSeed), m_pty(pty),
      m_signals(signals), m_startUs(monotonicUs()), m_report(options.common.verbose, m_startUs),
      // The wait between characters is counted in milliseconds; a rate above a thousand a
      // second needs the characters of a late millisecond made up, a couple at a time.
      m_rate(options.cps, std::max(1u, options.cps / 500), m_startUs),
      m_phase(options.waitForStart ? Phase::WaitStart : Phase::Sending) {}

int PunchMode::run() {
    if (!m_options.common.recordPath.empty()) {
        std::string error;
        if (!m_recorder.open(m_options.common.recordPath, error)) {
            m_report.failure(error);
            return 1;
        }
    }
    if (m_phase == Phase::WaitStart)
        m_report.event("waiting for the start code " + codeName(m_options.startCode));

    while (m_phase != Phase::Done) {
        int64_t now = monotonicUs();
        if (!advance(now))
            break;
        if (m_phase == Phase::Done)
            break;

        bool wantWrite = m_phase == Phase::Sending && !m_held &&
                         m_position < m_outputs[m_current].size() && m_rate.available(now) >= 1;
        pollfd fds[3] = {{m_signals.fd(), POLLIN, 0},
                         {m_pty.watchFd(), POLLIN, 0},
                         {m_pty.master(), short(POLLIN | (wantWrite ? POLLOUT : 0)), 0}};
        if (::poll(fds, 3, pollTimeout(now)) < 0 && errno != EINTR) {
            m_report.failure(std::string("poll: ") + std::strerror(errno));
            m_status = 1;
            break;
        }
        if (fds[1].revents & POLLIN && m_pty.readClientEvents() > 0) {
            m_report.event("host opened the device");
            // A request's reply can begin before the punch has seen its output read to the
            // end; what follows this open belongs to the reply, so leave it unread.
            if (m_options.endOnReopen &&
                (m_phase == Phase::Draining || m_phase == Phase::Lingering)) {
                m_reopened = true;
                break;
            }
        }
        // Input first: an XOFF that is already here must stop the very next character.
        if (fds[2].revents & POLLIN) {
            uint8_t buffer[256];
            ssize_t n = ::read(m_pty.master(), buffer, sizeof buffer);
            if (n > 0)
                onHostBytes(buffer, size_t(n));
        } else if (fds[2].revents & (POLLHUP | POLLERR)) {
            ::poll(nullptr, 0, kSliceMs); // nobody on the line; wait a slice, never spin
            continue;
        }
        if ((fds[2].revents & POLLOUT) && !sendNext(monotonicUs()))
            break;
    }

    std::printf("sent %zu bytes, holds %llu\n", m_sent, (unsigned long long)m_holds);
    std::fflush(stdout);
    return m_status;
}

bool PunchMode::advance(int64_t nowUs) {
    if (m_signals.stopRequested()) {
        m_report.failure("stopped by a signal");
        m_status = 1;
        return false;
    }
    if (m_options.common.exitAfterMs > 0 &&
        nowUs - m_startUs >= m_options.common.exitAfterMs * 1000) {
        m_report.failure("time limit of " + std::to_string(m_options.common.exitAfterMs) +
                         " ms reached");
        m_status = 1;
        return false;
    }
    if (m_phase == Phase::Sending && m_position == m_outputs[m_current].size() &&
        m_current + 1 < m_outputs.size()) {
        if (m_gapUntilUs < 0)
            m_gapUntilUs = nowUs + gapUsBefore(m_current + 1);
        if (nowUs >= m_gapUntilUs) {
            ++m_current;
            m_position = 0;
            m_gapUntilUs = -1;
            m_report.event("program " + std::to_string(m_current + 1) + " of " +
                           std::to_string(m_outputs.size()));
        }
    }
    if (m_phase == Phase::Sending && m_current + 1 == m_outputs.size() &&
        m_position == m_outputs[m_current].size()) {
        m_report.event("output complete");
        m_phase = Phase::Draining;
        m_phaseDeadlineUs = nowUs + m_options.drainMs * 1000;
    }
    if (m_phase == Phase::Draining) {
        // Closing the master throws away whatever the host has not read, including characters
        // still in the kernel's buffer, so the line stays up until nothing is left for a while.
        size_t unread = m_pty.unreadByClient();
        if (unread > 0)
            m_allReadSinceUs = -1;
        else if (m_allReadSinceUs < 0)
            m_allReadSinceUs = nowUs;
        if (unread == 0 && nowUs - m_allReadSinceUs >= Pty::kSettleUs) {
            m_phase = Phase::Lingering;
            m_phaseDeadlineUs = nowUs + m_options.lingerMs * 1000;
        } else if (unread > 0 && nowUs >= m_phaseDeadlineUs) {
            m_report.failure("the host did not read the last " + std::to_string(unread) +
                             " characters");
            m_status = 1;
            return false;
        }
    }
    if (m_phase == Phase::Lingering && nowUs >= m_phaseDeadlineUs)
        m_phase = Phase::Done;
    return true;
}

bool PunchMode::matches(uint8_t byte, int code) const {
    // A host sending with even parity may set bit 7 on a code; the machine ignores that bit.
    return byte == code || (code < 0x80 && (byte & 0x7F) == code);
}

void PunchMode::onHostBytes(const uint8_t* data, size_t size) {
    m_recorder.write(data, size);
    for (size_t i = 0; i < size; ++i) {
        uint8_t byte = data[i];
        if (m_phase == Phase::WaitStart) {
            if (matches(byte, m_options.startCode)) {
                m_report.event("start code received");
                m_phase = Phase::Sending;
            }
            continue;
        }
        if (matches(byte, m_options.common.xoff)) {
            if (!m_held) {
                ++m_holds;
                m_report.event("held by " + codeName(byte));
            }
            m_held = true;
        } else if (matches(byte, m_options.common.xon)) {
            if (m_held)
                m_report.event("released by " + codeName(byte));
            m_held = false;
        }
    }
}

bool PunchMode::sendNext(int64_t nowUs) {
    const std::vector<uint8_t>& output = m_outputs[m_current];
    if (m_phase != Phase::Sending || m_held || m_position >= output.size() ||
        m_rate.available(nowUs) < 1)
        return true;
    // One character at a time, so that an XOFF stops the very next one; --chunk trades that
    // for speed when nothing paces the output.
    size_t count = 1;
    if (m_rate.unlimited())
        count = std::min(size_t(m_options.chunk), output.size() - m_position);
    ssize_t n = ::write(m_pty.master(), &output[m_position], count);
    if (n > 0) {
        m_position += size_t(n);
        m_sent += size_t(n);
        m_rate.take(size_t(n));
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    m_report.failure(std::string("write: ") + std::strerror(errno));
    m_status = 1;
    return false;
}

int64_t PunchMode::gapUsBefore(size_t index) {
    if (m_options.randomGapMaxMs >= 0)
        return std::uniform_int_distribution<int64_t>(0, m_options.randomGapMaxMs * 1000)(m_random);
    if (m_options.gapsMs.empty())
        return 0;
    return m_options.gapsMs[std::min(index - 1, m_options.gapsMs.size() - 1)] * 1000;
}

int PunchMode::pollTimeout(int64_t nowUs) {
    int64_t deadline = nowUs + kSliceMs * 1000;
    if (m_phase == Phase::Sending && !m_held && m_rate.available(nowUs) < 1)
        deadline = std::min(deadline, m_rate.nextAt(nowUs));
    if (m_phase == Phase::Lingering)
        deadline = std::min(deadline, m_phaseDeadlineUs);
    if (m_gapUntilUs >= 0)
        deadline = std::min(deadline, m_gapUntilUs);
    if (m_options.common.exitAfterMs > 0)
        deadline = std::min(deadline, m_startUs + m_options.common.exitAfterMs * 1000);
    return pollTimeoutMs(nowUs, deadline, kSliceMs);
}

} // namespace cncsim
