#pragma once
// The serial ports a machine definition can name on this platform, and what a port typed by
// the user means. A port is either a COM number (COM n is /dev/ttyS(n-1), the way older machine
// files count) or a device path kept in `PortName` (a USB adapter, a stable by-id link).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/Line.h"

namespace corvane {

struct MachineLine;

// The COM numbers the machine sheet offers.
constexpr int32_t FirstComNumber = 1;
constexpr int32_t LastComNumber = 256;

// What the user typed into the port box.
struct PortChoice {
    bool isPath = false;
    int32_t comNumber = 0; // 1..256 when !isPath
    std::string path;      // the device when isPath
};

// Reads the port text with ParsePortAddress. "3", "COM3" choose COM 3; "/dev/ttyUSB0" chooses that
// device, "tcp://HOST:PORT" and "rfc2217://HOST:PORT" a device server (both kept in PortName); a
// bare terminal name ("ttyUSB0") means the one in /dev. False for anything else: an empty text,
// a number outside 1..256, a relative path, a path too long for `PortName`.
bool ParsePortText(std::string_view text, PortChoice& out);

// Puts the choice into the line settings: a number sets PortNo and empties PortName (so the
// number is what the port layer opens); a path sets PortName and leaves PortNo as it was.
void ApplyPortChoice(const PortChoice& choice, MachineLine& line);

// What the port box shows for the line settings: PortName when set, else PortNo + 1.
std::string PortText(const MachineLine& line);

// Whether a ttyS device has a UART behind it. The kernel creates ttyS0..ttyS31 whether or not
// the hardware exists; only a port that opens and reports a known UART type is offered.
using SerialProbe = std::function<bool(const std::string& device)>;
bool SerialPortPresent(const std::string& device);

// The serial devices found in `devFolder` (normally "/dev"): the stable names under
// serial/by-id first (they survive re-plugging, so they are the ones to keep in a machine
// file), then ttyUSB*, ttyACM* and the ttyS* for which `probe` says yes, each group in
// natural order (ttyS2 before ttyS10). Full paths.
std::vector<std::string> ListSerialPorts(const std::string& devFolder, const SerialProbe& probe);
// The same for "/dev" with SerialPortPresent.
std::vector<std::string> ListSerialPorts();

// The string-table id that words an open failure for the user, the same texts the port layer
// shows when a transfer cannot open its port; 0 when the failure has no text of its own (the
// system's error text in OpenedLine::detail is then the reason).
int OpenFailureTextId(OpenFailure failure);

} // namespace corvane
