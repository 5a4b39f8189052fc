// cnc-sim: a simulated CNC machine tool on a pseudo-terminal, for integration tests and
// demonstrations. See usageText() in Options.cpp for what it does.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Options.h"
#include "Pty.h"
#include "PunchMode.h"
#include "ReaderMode.h"
#include "SignalWatch.h"
#include "TapeCodes.h"

namespace {

bool readFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The device line is the first thing on stdout: callers wait for it before they open the port.
bool openLine(cncsim::Pty& pty, const std::string& linkPath) {
    std::string error;
    if (!pty.create(error) || (!linkPath.empty() && !pty.link(linkPath, error))) {
        std::fprintf(stderr, "cnc-sim: %s\n", error.c_str());
        return false;
    }
    std::printf("device %s\n", pty.slavePath().c_str());
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using namespace cncsim;
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "cnc-sim: %s\nTry 'cnc-sim --help'.\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.mode == Mode::Help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }

    // Signals are blocked before the pty exists, so a stop at any moment still removes the link.
    SignalWatch signals;
    Pty pty;

    if (parsed.mode == Mode::Read) {
        if (!openLine(pty, parsed.read.common.linkPath))
            return 1;
        return ReaderMode(parsed.read, pty, signals).run();
    }

    const PunchOptions& punch = parsed.mode == Mode::Request ? parsed.request.punch : parsed.punch;
    std::vector<std::vector<uint8_t>> outputs;
    for (const std::string& path : punch.programPaths) {
        std::string text;
        if (!readFile(path, text)) {
            std::fprintf(stderr, "cnc-sim: cannot read %s\n", path.c_str());
            return 1;
        }
        EncodeResult encoded = encodeProgram(text, punch.code, punch.lineEnd, punch.parity);
        if (!encoded.error.empty()) {
            std::fprintf(stderr, "cnc-sim: %s: %s\n", path.c_str(), encoded.error.c_str());
            return 1;
        }
        outputs.push_back(punchBytes(punch, encoded.bytes));
    }
    const size_t programs = outputs.size();
    for (long round = 1; round < punch.repeat; ++round)
        for (size_t i = 0; i < programs; ++i)
            outputs.push_back(outputs[i]);
    if (!openLine(pty, punch.common.linkPath))
        return 1;
    PunchMode punchMode(punch, std::move(outputs), pty, signals);
    const int punched = punchMode.run();
    if (parsed.mode != Mode::Request || punched != 0)
        return punched;
    // The operator switches the control to read mode; the same line carries the reply.
    ReadOptions reply = parsed.request.reply;
    // A host that keeps the port open between its transfers never opens it again: the
    // operator's switch to read mode is the start of the reply then, and the start code goes
    // out after the usual wait. A host that does open it again gets the start code anew.
    reply.afterReopen = false;
    reply.hostJustOpened = true;
    return ReaderMode(reply, pty, signals).run();
}
