#pragma once
// A machine behind a serial device server on the network: raw TCP (the bytes as they are) or
// RFC 2217 (Telnet COM-PORT-CONTROL, which also sets the server's serial port).

#include <memory>
#include <string>

#include "support/NameLookup.h"
#include "transfer/AckTiming.h"
#include "transfer/Line.h"
#include "transfer/LineInput.h"
#include "transfer/LinePacer.h"
#include "transfer/LineSettings.h"
#include "transfer/PortAddress.h"
#include "transfer/Rfc2217Client.h"
#include "transfer/TimerSlack.h"

struct addrinfo;

namespace corvane {

struct MachineDef;

class NetworkLine : public Line {
public:
    // How long each step of the opening may take, on the clock handed to continueOpen.
    static constexpr uint64_t ConnectMicros = 5'000'000;      // resolved to connected
    static constexpr uint64_t ResolveMicros = 10'000'000;     // a name server that is slow
    static constexpr uint64_t AnswerMicros = 3'000'000;       // Telnet, then the line settings
    static constexpr uint64_t ModemLineGraceMicros = 100'000; // DTR, RTS after the settings
    // Characters that may leave within one round trip: what can still reach the machine after
    // its DC3, kept below the 10 a control takes.
    static constexpr uint64_t RoundTripBudget = 8;
    // A server that takes none of the bytes waiting for it (or leaves a question unanswered)
    // this long, while no hold explains it, has hung: the transfer ends instead of reporting
    // as sent what sits in a socket.
    static constexpr uint64_t StallMicros = 10'000'000;
    // What the kernel may keep for a server that stopped reading: a little, so that a hang
    // shows as a full socket within seconds, not minutes of program.
    static constexpr int SendBufferBytes = 4096;
    // A reading server's window may lag a segment or so behind what it read.
    static constexpr int WindowSlackBytes = 2048;
    // A connection left half open (server rebooted, cable pulled) is given up after this
    // long without an answer, idle or not; the kernel's keepalive would take two hours.
    static constexpr unsigned SilentServerSeconds = 30;

    // Starts reaching the server. The line comes back Pending: continueOpen finishes the job.
    static OpenedLine open(const PortAddress& address, const MachineDef& machine, int direction,
                           const LineOptions& options);
    ~NetworkLine() override;

    // One character time at the machine's rate and framing, in microseconds.
    uint64_t charMicros() const { return m_pacer.charMicros(); }
    // The time between two bytes: one character time, or more on a long round trip.
    uint64_t spacingMicros() const { return m_pacer.spacing(); }

    bool isFile() const override { return false; }
    bool holds(LineHolds& out) override;
    bool writeByte(uint8_t byte, uint64_t waitMicros) override;
    ReadResult readByte(uint64_t waitMicros) override;
    void holdUntilXon() override { m_input.holdUntilXon(); }
    void waitForChange(uint64_t waitMicros) override;
    void drainOutput(uint64_t waitMicros) override;
    void purge() override;
    void dropDtr() override;
    void close() override;
    bool lost() const override { return m_lost; }
    LineMessage lostReason() const override;
    // False once the server stopped taking bytes and some never reached it.
    bool outputDelivered() const override;
    OpenProgress continueOpen(uint64_t nowMicros) override;
    // The connection stays; an RFC 2217 server is told the framing of the new direction, a
    // raw port's framing is the server's own.
    bool setDirection(const MachineDef& machine, int direction) override;
    LineMessage openFailure() const override { return m_failure; }
    std::vector<LineMessage> openWarnings() const override { return m_warnings; }

private:
    enum class Phase { Resolving, Connecting, Negotiating, Settling, Ready, Failed };

    NetworkLine(const PortAddress& address, const MachineDef& machine, int direction,
                const LineOptions& options);
    OpenProgress resolve(uint64_t now);
    OpenProgress connectNext(uint64_t now);
    OpenProgress connecting(uint64_t now);
    OpenProgress negotiating(uint64_t now);
    OpenProgress settling(uint64_t now);
    void queueLineSettings();
    void noteAnswers();
    OpenProgress fail(int textId, const std::string& detail = {});
    // The connection closed while opening: the server's word why, if it gave one.
    OpenProgress failDropped();
    void connected(uint64_t now);

    // Reads what the server sent: Telnet commands out, flow codes through the filter, data
    // into the input. False once the connection is gone.
    bool takeInput();
    // Data from the server's serial side, or, first thing on the connection, the server's own
    // word that it could not open its device: held back until it is clearly the one or the
    // other, so that text never reaches a received program.
    void takeData(const char* bytes, size_t count);
    void connectionClosed();
    // Writes as much of the queued output as the socket takes. False on a broken connection.
    bool flush();
    // Waits on the socket for input (and for room to write when output is queued).
    void waitOnSocket(uint64_t micros);
    void noteError(int error);
    // Widens the spacing of bytes to the longest round trip seen: the last answer to a probe,
    // and the kernel's estimate for the connection.
    void fitRoundTrip();
    void probeRoundTrip(uint64_t now);
    // Takes the probe's answer when it came in the read at `now`; `previousRead` is when the
    // socket was read before, so the answer arrived somewhere in between.
    void takeProbeAnswer(uint64_t now, uint64_t previousRead);
    // Ends the line when the server has taken nothing for StallMicros.
    void watchForStall(uint64_t now);
    bool heldByModem() const;
    // Bytes written that the server has not read: in our socket, or in its.
    int untaken();
    // Raw mode: a server whose acknowledgements come only on its kernel's timer has been
    // taking nothing since then.
    uint64_t lateSince() const { return m_telnet ? 0 : m_ackTiming.lateSince(); }

    PortAddress m_address;
    bool m_telnet;
    bool m_resolveNames;
    FlowSettings m_flow;
    LineInput m_input;
    LinePacer m_pacer;
    TightTimerSlack m_timerSlack;
    Rfc2217Client m_client;
    // The line settings asked of an RFC 2217 server.
    uint32_t m_baud = 9600;
    uint32_t m_dataSize = 8;
    uint32_t m_parity = 1;
    uint32_t m_stopSize = 1;
    bool m_hardwareFlow = false;
    int m_bitsPerCharacter = 10;
    // The rate the server's UART runs at: the one asked, or the one it said it set instead.
    uint32_t m_lineBaud = 9600;

    Phase m_phase = Phase::Resolving;
    std::unique_ptr<NameLookup> m_lookup; // a name's lookup, and then its addresses
    addrinfo* m_addresses = nullptr;      // an address's own, from getaddrinfo
    const addrinfo* m_nextAddress = nullptr;
    int m_lastError = 0;
    uint64_t m_phaseStart = 0;
    bool m_phaseStarted = false;

    int m_fd = -1;
    std::string m_raw; // raw mode: bytes waiting to be written
    bool m_lost = false;
    // RFC 2217: a question to the server now and then (the current baud rate), timed from when
    // it left until its answer is read, which happens before every byte: the round trip of
    // the whole path, server included, that the kernel's estimate does not see.
    uint64_t m_probeSentAt = 0; // 0: no probe waiting for its answer
    uint64_t m_answerRoundTrip = 0;
    uint64_t m_probeSentAtWall = 0;
    uint64_t m_probeAnsweredAt = 0; // the kernel's stamp on the answer, wall clock
    uint64_t m_lastReadAt = 0;
    uint64_t m_settingsAnsweredAt = 0;
    // Bytes in the socket not yet taken by the server, and since when that count has not
    // gone down (0: none waiting).
    int m_unsent = 0;
    uint64_t m_stuckSince = 0;
    bool m_stalled = false;
    uint32_t m_widestWindow = 0;
    uint64_t m_written = 0; // raw mode: bytes handed to the socket
    int m_unacked = 0;      // of them, still in our socket
    AckTiming m_ackTiming;
    uint64_t m_stallMicros = StallMicros;
    unsigned m_silentServerSeconds = SilentServerSeconds;
    unsigned m_writesSinceFit = 0;
    bool m_watchingServerWord = true;
    std::string m_serverWord;    // the first bytes, while they may be the server's word
    std::string m_deviceFailure; // the server's reason, once it said it could not open
    LineMessage m_failure;
    std::vector<LineMessage> m_warnings;
};

} // namespace corvane
