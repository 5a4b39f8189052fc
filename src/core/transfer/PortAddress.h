#pragma once
// Every way a port can be written, read in one place: the machine file's PortName, the command
// line's -p and the machine sheet's port box all come through here, so a text that one of them
// takes the others take too, and a malformed one is refused before anything is tried.
//
//   3, COM3          COM n: /dev/ttyS(n-1) on this platform (1..256)
//   /dev/ttyUSB0     a device path (a bare "ttyUSB0" means the one in /dev)
//   tcp://HOST:PORT  a serial device server in raw mode: the bytes as they are
//   rfc2217://HOST:PORT  a device server speaking Telnet COM-PORT-CONTROL
//
// HOST is a name, an IPv4 address or an IPv6 address in brackets ([::1]).

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

struct MachineLine;

enum class PortKind { ComNumber, Device, RawTcp, Rfc2217 };

struct PortAddress {
    PortKind kind = PortKind::ComNumber;
    int32_t comNumber = 1; // ComNumber: 1..256
    std::string device;    // Device: an absolute path
    std::string host;      // RawTcp, Rfc2217: a name or address, IPv6 without its brackets
    uint16_t port = 0;     // RawTcp, Rfc2217: 1..65535

    bool isNetwork() const { return kind == PortKind::RawTcp || kind == PortKind::Rfc2217; }
    // "HOST:PORT" ("[::1]:PORT" for IPv6), the way messages name a device server.
    std::string hostPort() const;
    // The text to keep in PortName or show in the port box: "3", "/dev/ttyUSB0",
    // "tcp://HOST:PORT", "rfc2217://HOST:PORT".
    std::string text() const;
};

// The longest port text PortName can hold (its buffer keeps the terminating zero).
constexpr size_t MaxPortTextLength = 259;

// Reads a port text (blanks around it are ignored). False, with `out` untouched, for anything
// else: an empty text, a COM number outside 1..256, a relative path, a network form without
// host or port, a port of 0 or above 65535, blanks or other stray characters inside, a text
// too long for PortName.
bool ParsePortAddress(std::string_view text, PortAddress& out);

// The port a machine definition names: PortName when set, else COM (PortNo + 1). False when
// PortName holds something that is not a port text.
bool MachinePortAddress(const MachineLine& line, PortAddress& out);

} // namespace corvane
