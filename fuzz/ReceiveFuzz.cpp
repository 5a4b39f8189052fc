// The receive engine fed any bytes through the test line on a manual clock, with machine
// settings taken from the front of the input. The target must hold only whole lines, each
// ended by CR LF, as many as the outcome reports, with no CR, LF or NUL inside and spaces as
// the Space Character setting leaves them. On the wire only the start code, the user codes and
// the end code may appear, in that order, and nothing after the end code; a device file gets
// nothing written at all.

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "support/HexDigit.h"
#include "support/TransferFixture.h"
#include "transfer/ReceiveEngine.h"

using namespace corvane;
using namespace corvane::fuzz;
using corvane::testing::ForwardingLine;
using corvane::testing::TransferFixture;

namespace {

constexpr size_t MaxStream = 8192;       // the test line's queue is not built for more
constexpr uint64_t QuietEnd = 5'000'000; // after the last byte, 5 s of silence ends a run
constexpr int MaxPumps = 2'000'000;

// Mostly values from the setting's list, now and then any value a file could hold.
int32_t choice(uint8_t b, int count) {
    return b >= 248 ? static_cast<int8_t>(b) : b % count;
}

// The bytes a user code stands for: pairs of hex digits, a pair that does not start with one
// sends nothing, an odd last character is left over.
std::string userCodeBytes(const char* code) {
    std::string out;
    const size_t pairs = strnlen(code, 255) / 2;
    for (size_t i = 0; i < pairs; ++i) {
        const int high = HexDigitValue(code[2 * i]);
        if (high < 0)
            continue;
        const int low = HexDigitValue(code[2 * i + 1]);
        out += static_cast<char>(low < 0 ? high : high * 16 + low);
    }
    return out;
}

void copyText(const std::string& text, char* field, size_t size) {
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ReceiveRig : TransferFixture {
    std::unique_ptr<TestLine> line;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    ReceiveRig rig;
    MachineLine& ml = rig.machine.line;
    MachineConfig& mc = rig.machine.config;
    mc.PtrBegin = choice(in.byte(), 2);
    mc.PtrEof = choice(in.byte(), 4);
    mc.RecvSpace = choice(in.byte(), 3);
    ml.OutCode = choice(in.byte(), 3);
    ml.HandShake = in.byte() & 7;
    ml.PtrStart = in.byte();
    ml.PtrStop = in.byte();
    ml.PtpStop = in.byte();
    const uint8_t timeOut = in.byte();
    mc.PtrTimeOut = timeOut * 20;
    const uint8_t flags = in.byte();
    mc.OutofFile = flags & 1;
    rig.config.Echo = (flags >> 1) & 1;
    const size_t chunk = 1 + in.byte();
    const uint64_t gapMicros = in.byte() * 10'000ull;
    copyText(in.text(16), mc.PtrUser0, sizeof mc.PtrUser0);
    copyText(in.text(16), mc.PtrUser1, sizeof mc.PtrUser1);
    copyText(in.text(32), mc.ReceiveSkipLine, sizeof mc.ReceiveSkipLine);
    copyText(in.text(32), mc.ReceiveSkipCode, sizeof mc.ReceiveSkipCode);
    const std::string_view stream = in.rest().substr(0, MaxStream);

    const bool isFile = mc.OutofFile != 0;
    FlowSettings flow;
    flow.xonXoff = (ml.HandShake & 1) != 0;
    flow.xon = static_cast<uint8_t>(ml.PtrStart);
    flow.xoff = static_cast<uint8_t>(ml.PtrStop);
    flow.dsr = (ml.HandShake & 2) != 0;
    flow.cts = (ml.HandShake & 4) != 0;
    rig.line = std::make_unique<TestLine>(rig.clock, flow, isFile);
    uint64_t at = 0;
    for (size_t i = 0; i < stream.size(); i += chunk) {
        rig.line->input(std::string(stream.substr(i, chunk)), at);
        at += gapMicros;
    }
    // The machine falls silent after its last byte; a receive that would wait for ever (no
    // time-out, no end mark) is ended the way a user ends it.
    const uint64_t quietAt = at + QuietEnd;
    rig.host.deviceFile = "TAPE.DAT";
    rig.host.onPump = [&rig, quietAt] {
        if (rig.clock.now() > quietAt || rig.host.pumps > MaxPumps)
            rig.state.InterruptRequest = 1;
    };

    TestLine& line = *rig.line;
    TransferContext ctx = rig.contextWith([&line](const MachineDef&, int, const char*) {
        OpenedLine opened;
        opened.line = std::make_unique<ForwardingLine>(line);
        return opened;
    });
    const std::string& target = ScratchPath("receive");
    ReceiveOutcome outcome;
    const int result = ReceiveNcData(ctx, target.c_str(), &outcome);

    FUZZ_CHECK(result == outcome.result);
    FUZZ_CHECK(result == ReceiveDone || result == ReceiveInterrupted ||
               result == ReceiveStartCodeFailed || result == ReceiveAfterCodeFailed);
    FUZZ_CHECK(!rig.state.TransferRunning);
    FUZZ_CHECK(!ctx.port);

    // The target: whole lines only.
    const std::string stored = fileBytes(target);
    int lines = 0;
    size_t pos = 0;
    while (pos < stored.size()) {
        const size_t end = stored.find("\r\n", pos);
        FUZZ_CHECK(end != std::string::npos);
        const std::string_view text(stored.data() + pos, end - pos);
        FUZZ_CHECK(!text.empty() && text.size() <= 1026);
        for (char c : text) {
            FUZZ_CHECK(c != '\r' && c != '\n' && c != '\0');
            FUZZ_CHECK(static_cast<unsigned char>(c) < 0x80);
            if (mc.RecvSpace == 0)
                FUZZ_CHECK(c != ' ');
        }
        // Trailing spaces go before the skip rules run; a cut word may leave one behind.
        if (mc.RecvSpace == 1 && mc.ReceiveSkipCode[0] == '\0')
            FUZZ_CHECK(text.back() != ' ');
        ++lines;
        pos = end + 2;
    }
    FUZZ_CHECK(lines == outcome.lines);

    // The wire: the codes in their order, each at most once, nothing after the end code.
    if (isFile) {
        FUZZ_CHECK(line.written().empty());
    } else {
        std::string opening;
        if (ml.PtrStart > 0)
            opening += static_cast<char>(ml.PtrStart & 0xFF);
        opening += userCodeBytes(mc.PtrUser0);
        const std::string closing = userCodeBytes(mc.PtrUser1);
        const std::string& written = line.written();
        auto startsWith = [](std::string_view text, std::string_view prefix) {
            return text.substr(0, prefix.size()) == prefix;
        };
        if (written.size() <= opening.size()) {
            FUZZ_CHECK(startsWith(opening, written));
        } else {
            // Past the opening only the closing user code (an interrupt passes over the rest
            // of it) and then the end code, once, as the very last byte.
            FUZZ_CHECK(!outcome.timedOut());
            FUZZ_CHECK(startsWith(written, opening));
            std::string_view rest = std::string_view(written).substr(opening.size());
            if (!startsWith(closing, rest)) {
                FUZZ_CHECK(ml.PtrStop > 0 && rest.back() == static_cast<char>(ml.PtrStop & 0xFF));
                rest.remove_suffix(1);
                FUZZ_CHECK(startsWith(closing, rest));
            }
        }
    }
    return 0;
}
