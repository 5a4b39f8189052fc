#pragma once
// The client's half of Telnet with COM-PORT-CONTROL (RFC 854, RFC 2217), without the socket:
// bytes from the server go in and come out as the machine's data with the Telnet commands
// taken out; what we have to say (our options, the line settings, data with IAC doubled)
// collects in an output buffer that the network line writes.
//
// We ask for COM-PORT-OPTION and BINARY both ways and refuse every other option, so a server
// that offers echo or odd options cannot change what reaches the machine. Each COM-PORT
// command we send waits for the server's answer (the command number + 100 and the value it
// really set); the network line decides how long to wait and what to say about the answers.

#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

namespace telnet {
constexpr uint8_t Se = 240;
constexpr uint8_t Sb = 250;
constexpr uint8_t Will = 251;
constexpr uint8_t Wont = 252;
constexpr uint8_t Do = 253;
constexpr uint8_t Dont = 254;
constexpr uint8_t Iac = 255;
constexpr uint8_t Binary = 0;
constexpr uint8_t SuppressGoAhead = 3;
constexpr uint8_t ComPort = 44;
} // namespace telnet

namespace comport {
constexpr uint8_t SetBaudRate = 1;
constexpr uint8_t SetDataSize = 2;
constexpr uint8_t SetParity = 3;
constexpr uint8_t SetStopSize = 4;
constexpr uint8_t SetControl = 5;
constexpr uint8_t NotifyModemState = 7;
constexpr uint8_t ServerOffset = 100; // a server's answer carries the command number + 100
// SET-CONTROL values.
constexpr uint32_t FlowNone = 1;
constexpr uint32_t FlowHardware = 3;
constexpr uint32_t DtrOn = 8;
constexpr uint32_t DtrOff = 9;
constexpr uint32_t RtsOn = 11;
// Modem-state bits.
constexpr uint8_t Cts = 0x10;
constexpr uint8_t Dsr = 0x20;
} // namespace comport

class Rfc2217Client {
public:
    struct Request {
        uint8_t command = 0;
        uint32_t value = 0;
        bool answered = false;
        uint32_t answer = 0;
    };

    // Queues our side of the option negotiation.
    void start();
    // Takes bytes from the server; the machine's data is appended to `data`.
    void take(const uint8_t* bytes, size_t count, std::string& data);
    // Queues one data byte for the machine (0xFF goes out doubled).
    void queueData(uint8_t byte);
    // Queues a COM-PORT command and notes it as waiting for its answer. Baud rates take four
    // bytes, every other command one.
    void queueCommand(uint8_t command, uint32_t value);
    // Queues a command that needs no answer (DTR off at close).
    void queueCommandUnanswered(uint8_t command, uint32_t value);
    // Asks for the current baud rate, which changes nothing: its answer times a round trip.
    void queueProbe();
    // True once, when the answer to the probe has come.
    bool takeProbeAnswer();
    // The answer has come and not been taken yet.
    bool probeAnswered() const { return m_probeAnswered; }

    // What to send; the caller removes what it wrote.
    std::string& output() { return m_output; }
    const std::string& output() const { return m_output; }

    // The server sent at least one Telnet command: it speaks Telnet.
    bool spokeTelnet() const { return m_spokeTelnet; }
    // The server agreed to COM-PORT-OPTION (DO COM-PORT) / refused it (DONT).
    bool comPortAccepted() const { return m_local[telnet::ComPort]; }
    bool comPortRefused() const { return m_comPortRefused; }
    // The server refused BINARY in either direction: it may then treat the data as Telnet
    // text (a CR followed by NUL, the top bit of a character cleared).
    bool binaryRefused() const { return m_binaryRefused; }
    // The last NOTIFY-MODEMSTATE, once one came.
    bool modemStateKnown() const { return m_modemKnown; }
    uint8_t modemState() const { return m_modemState; }

    const std::vector<Request>& requests() const { return m_requests; }
    bool allAnswered() const;
    // Every request but the modem lines (DTR, RTS) answered: a server on a port without those
    // lines (ser2net on a pseudo-terminal) never confirms them, and the line is usable without.
    bool settingsAnswered() const;

private:
    enum class State { Data, Iac, Option, Sub, SubIac };

    void option(uint8_t verb, uint8_t code);
    void send(uint8_t verb, uint8_t code);
    void subnegotiation();
    void answer(uint8_t command, uint32_t value);
    void queueSub(uint8_t command, uint32_t value);

    State m_state = State::Data;
    uint8_t m_verb = 0;
    std::string m_sub;
    std::string m_output;
    bool m_spokeTelnet = false;
    bool m_comPortRefused = false;
    bool m_binaryRefused = false;
    bool m_modemKnown = false;
    bool m_probeOutstanding = false;
    bool m_probeAnswered = false;
    uint8_t m_modemState = 0;
    // Option state: enabled on our side / on theirs, and whether we asked (so an answer to our
    // own request is not answered again, and a refusal is said once).
    bool m_local[256] = {};
    bool m_remote[256] = {};
    bool m_askedLocal[256] = {};
    bool m_askedRemote[256] = {};
    bool m_refusedLocal[256] = {};
    bool m_refusedRemote[256] = {};
    std::vector<Request> m_requests;
};

} // namespace corvane
