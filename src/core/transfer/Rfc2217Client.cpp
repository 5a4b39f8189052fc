#include "transfer/Rfc2217Client.h"

namespace corvane {

namespace {

// The options we want on each side; everything else is refused.
bool wantedLocally(uint8_t code) {
    return code == telnet::Binary || code == telnet::ComPort || code == telnet::SuppressGoAhead;
}
bool wantedRemotely(uint8_t code) {
    return code == telnet::Binary || code == telnet::SuppressGoAhead;
}

// SET-CONTROL values fall into groups that a server answers separately: outbound flow control
// (0..3, 17..19), BREAK (4..6), DTR (7..9), RTS (10..12), inbound flow control (13..16).
int controlGroup(uint32_t value) {
    if (value <= 3 || (value >= 17 && value <= 19))
        return 0;
    if (value <= 6)
        return 1;
    if (value <= 9)
        return 2;
    if (value <= 12)
        return 3;
    return 4;
}

} // namespace

void Rfc2217Client::start() {
    send(telnet::Will, telnet::ComPort);
    m_askedLocal[telnet::ComPort] = true;
    send(telnet::Will, telnet::Binary);
    m_askedLocal[telnet::Binary] = true;
    send(telnet::Do, telnet::Binary);
    m_askedRemote[telnet::Binary] = true;
}

void Rfc2217Client::send(uint8_t verb, uint8_t code) {
    m_output += static_cast<char>(telnet::Iac);
    m_output += static_cast<char>(verb);
    m_output += static_cast<char>(code);
}

void Rfc2217Client::queueData(uint8_t byte) {
    if (byte == telnet::Iac)
        m_output += static_cast<char>(telnet::Iac);
    m_output += static_cast<char>(byte);
}

void Rfc2217Client::queueSub(uint8_t command, uint32_t value) {
    m_output += static_cast<char>(telnet::Iac);
    m_output += static_cast<char>(telnet::Sb);
    m_output += static_cast<char>(telnet::ComPort);
    m_output += static_cast<char>(command);
    if (command == comport::SetBaudRate) {
        for (int shift = 24; shift >= 0; shift -= 8)
            queueData(static_cast<uint8_t>(value >> shift));
    } else {
        queueData(static_cast<uint8_t>(value));
    }
    m_output += static_cast<char>(telnet::Iac);
    m_output += static_cast<char>(telnet::Se);
}

void Rfc2217Client::queueCommand(uint8_t command, uint32_t value) {
    queueSub(command, value);
    m_requests.push_back(Request{command, value, false, 0});
}

void Rfc2217Client::queueCommandUnanswered(uint8_t command, uint32_t value) {
    queueSub(command, value);
}

void Rfc2217Client::queueProbe() {
    queueSub(comport::SetBaudRate, 0);
    m_probeOutstanding = true;
}

bool Rfc2217Client::takeProbeAnswer() {
    const bool answered = m_probeAnswered;
    m_probeAnswered = false;
    return answered;
}

bool Rfc2217Client::allAnswered() const {
    for (const Request& r : m_requests) {
        if (!r.answered)
            return false;
    }
    return true;
}

bool Rfc2217Client::settingsAnswered() const {
    for (const Request& r : m_requests) {
        const bool modemLine = r.command == comport::SetControl && r.value >= comport::DtrOn;
        if (!r.answered && !modemLine)
            return false;
    }
    return true;
}

void Rfc2217Client::take(const uint8_t* bytes, size_t count, std::string& data) {
    // A subnegotiation longer than any COM-PORT answer is garbage; it is read to its end but
    // not kept.
    constexpr size_t LongestSub = 64;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (m_state) {
        case State::Data:
            if (b == telnet::Iac)
                m_state = State::Iac;
            else
                data += static_cast<char>(b);
            break;
        case State::Iac:
            if (b == telnet::Iac) {
                data += static_cast<char>(b);
                m_state = State::Data;
                break;
            }
            m_spokeTelnet = true;
            if (b >= telnet::Will && b <= telnet::Dont) {
                m_verb = b;
                m_state = State::Option;
            } else if (b == telnet::Sb) {
                m_sub.clear();
                m_state = State::Sub;
            } else {
                m_state = State::Data; // NOP, GA, DM, BRK...: nothing for the machine
            }
            break;
        case State::Option:
            option(m_verb, b);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == telnet::Iac)
                m_state = State::SubIac;
            else if (m_sub.size() < LongestSub)
                m_sub += static_cast<char>(b);
            break;
        case State::SubIac:
            if (b == telnet::Iac) {
                if (m_sub.size() < LongestSub)
                    m_sub += static_cast<char>(b);
                m_state = State::Sub;
            } else {
                // SE ends it; anything else is a broken server: end it there too.
                if (m_sub.size() < LongestSub)
                    subnegotiation();
                m_state = State::Data;
            }
            break;
        }
    }
}

void Rfc2217Client::option(uint8_t verb, uint8_t code) {
    switch (verb) {
    case telnet::Will:
        if (wantedRemotely(code)) {
            if (!m_remote[code] && !m_askedRemote[code])
                send(telnet::Do, code);
            m_remote[code] = true;
            m_askedRemote[code] = false;
        } else if (!m_refusedRemote[code]) {
            send(telnet::Dont, code);
            m_refusedRemote[code] = true;
        }
        break;
    case telnet::Wont:
        if (code == telnet::Binary)
            m_binaryRefused = true;
        if (m_remote[code] && !m_askedRemote[code])
            send(telnet::Dont, code);
        m_remote[code] = false;
        m_askedRemote[code] = false;
        break;
    case telnet::Do:
        if (wantedLocally(code)) {
            if (!m_local[code] && !m_askedLocal[code])
                send(telnet::Will, code);
            m_local[code] = true;
            m_askedLocal[code] = false;
        } else if (!m_refusedLocal[code]) {
            send(telnet::Wont, code);
            m_refusedLocal[code] = true;
        }
        break;
    case telnet::Dont:
        if (m_local[code] && !m_askedLocal[code])
            send(telnet::Wont, code);
        if (code == telnet::ComPort)
            m_comPortRefused = true;
        if (code == telnet::Binary)
            m_binaryRefused = true;
        m_local[code] = false;
        m_askedLocal[code] = false;
        break;
    default:
        break;
    }
}

void Rfc2217Client::subnegotiation() {
    if (m_sub.size() < 2 || static_cast<uint8_t>(m_sub[0]) != telnet::ComPort)
        return;
    const uint8_t command = static_cast<uint8_t>(m_sub[1]);
    const std::string value = m_sub.substr(2);
    if (command < comport::ServerOffset || value.empty())
        return;
    const uint8_t asked = static_cast<uint8_t>(command - comport::ServerOffset);
    if (asked == comport::NotifyModemState) {
        m_modemKnown = true;
        m_modemState = static_cast<uint8_t>(value[0]);
        return;
    }
    uint32_t number = 0;
    if (asked == comport::SetBaudRate) {
        if (value.size() != 4)
            return;
        for (const char c : value)
            number = (number << 8) | static_cast<uint8_t>(c);
    } else {
        number = static_cast<uint8_t>(value[0]);
    }
    answer(asked, number);
}

void Rfc2217Client::answer(uint8_t command, uint32_t value) {
    for (Request& r : m_requests) {
        if (r.answered || r.command != command)
            continue;
        if (command == comport::SetControl && controlGroup(r.value) != controlGroup(value))
            continue;
        r.answered = true;
        r.answer = value;
        return;
    }
    if (command == comport::SetBaudRate && m_probeOutstanding) {
        m_probeOutstanding = false;
        m_probeAnswered = true;
    }
}

} // namespace corvane
