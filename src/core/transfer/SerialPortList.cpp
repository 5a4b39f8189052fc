#include "transfer/SerialPortList.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "settings/MachineDef.h"
#include "support/StringIds.h"
#include "transfer/PortAddress.h"

namespace corvane {

namespace {

// "ttyS10" after "ttyS2": digit runs compare by value.
bool naturalLess(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (digitA && digitB) {
            size_t endA = i;
            size_t endB = j;
            while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA])))
                ++endA;
            while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB])))
                ++endB;
            // Without leading zeros the longer run is the larger number.
            std::string_view runA(a.data() + i, endA - i);
            std::string_view runB(b.data() + j, endB - j);
            while (runA.size() > 1 && runA.front() == '0')
                runA.remove_prefix(1);
            while (runB.size() > 1 && runB.front() == '0')
                runB.remove_prefix(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size();
            if (runA != runB)
                return runA < runB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// Names in `folder` that begin with `prefix` followed by at least one character, sorted.
std::vector<std::string> namesWithPrefix(const std::filesystem::path& folder,
                                         std::string_view prefix) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error)
        return names;
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), naturalLess);
    return names;
}

std::string joined(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

} // namespace

bool ParsePortText(std::string_view text, PortChoice& out) {
    PortAddress address;
    if (!ParsePortAddress(text, address))
        return false;
    out = PortChoice{};
    if (address.kind == PortKind::ComNumber) {
        out.comNumber = address.comNumber;
        return true;
    }
    // A device path and a network port are both kept as text in PortName.
    out.isPath = true;
    out.path = address.text();
    return true;
}

void ApplyPortChoice(const PortChoice& choice, MachineLine& line) {
    std::memset(line.PortName, 0, sizeof line.PortName);
    if (choice.isPath) {
        const size_t n = std::min(choice.path.size(), sizeof line.PortName - 1);
        std::memcpy(line.PortName, choice.path.data(), n);
        return;
    }
    line.PortNo = choice.comNumber - 1;
}

std::string PortText(const MachineLine& line) {
    if (line.PortName[0] != '\0')
        return std::string(line.PortName, strnlen(line.PortName, sizeof line.PortName));
    return std::to_string(line.PortNo + 1);
}

bool SerialPortPresent(const std::string& device) {
    // Non-blocking, so a port without carrier does not wait for one; opening a ttyS without
    // hardware fails with EIO, one held exclusively by another program with EBUSY.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct serial{};
    const bool present = ioctl(fd, TIOCGSERIAL, &serial) == 0 && serial.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}

std::vector<std::string> ListSerialPorts(const std::string& devFolder, const SerialProbe& probe) {
    std::vector<std::string> ports;
    const std::string byId = joined(devFolder, "serial/by-id");
    for (const std::string& name : namesWithPrefix(byId, ""))
        ports.push_back(joined(byId, name));
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        for (const std::string& name : namesWithPrefix(devFolder, prefix))
            ports.push_back(joined(devFolder, name));
    }
    for (const std::string& name : namesWithPrefix(devFolder, "ttyS")) {
        const std::string device = joined(devFolder, name);
        if (probe && probe(device))
            ports.push_back(device);
    }
    return ports;
}

std::vector<std::string> ListSerialPorts() {
    return ListSerialPorts("/dev", SerialPortPresent);
}

int OpenFailureTextId(OpenFailure failure) {
    switch (failure) {
    case OpenFailure::PermissionDenied:
        return IDS_PORT_PERMISSION_DENIED;
    case OpenFailure::Busy:
        return IDS_PORT_BUSY;
    case OpenFailure::NotFound:
        return IDS_PORT_NOT_FOUND;
    case OpenFailure::NotASerialPort:
        return IDS_PORT_NOT_A_SERIAL_PORT;
    case OpenFailure::Other:
    case OpenFailure::None:
        break;
    }
    return 0;
}

} // namespace corvane
