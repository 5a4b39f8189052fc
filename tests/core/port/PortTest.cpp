#include "PortFixture.h"

namespace corvane::testing {
namespace {

using PortOpen = PortFixture;

TEST_F(PortOpen, clearsTheInterruptRequestEvenWhenTheOpenFails) {
    failOpen = true;
    failWith.error.kind = OpenFailure::Busy;
    for (int attempt = 0; attempt < 2; ++attempt) {
        state.InterruptRequest = 2;
        EXPECT_EQ(ComOpen(ctx, 2), -2);
        EXPECT_EQ(state.InterruptRequest, 0);
    }
    failOpen = false;
    state.InterruptRequest = 1;
    EXPECT_EQ(ComOpen(ctx, 2), 0);
    EXPECT_EQ(state.InterruptRequest, 0);
}

struct OpenFailureCase {
    int portNo;
    const char* portName;
    OpenFailure failure;
    const char* detail;
    const char* message;
};

TEST_F(PortOpen, failureMessageNamesTheDeviceAndTheReason) {
    const OpenFailureCase cases[] = {
        {0, "", OpenFailure::Busy, "",
         "Failed to open the device.\n\n/dev/ttyS0\nThe port is in use by another program."},
        {9, "", OpenFailure::NotFound, "",
         "Failed to open the device.\n\n/dev/ttyS9\nThe port does not exist. Check the port of "
         "the machine definition."},
        {3, "/dev/ttyUSB0", OpenFailure::PermissionDenied, "uucp",
         "Failed to open the device.\n\n/dev/ttyUSB0\nPermission denied: add the user to the "
         "group that owns the port (usually dialout) and log in again. (uucp)"},
        {0, "/dev/ttyUSB1", OpenFailure::PermissionDenied, "",
         "Failed to open the device.\n\n/dev/ttyUSB1\nPermission denied: add the user to the "
         "group that owns the port (usually dialout) and log in again."},
        {0, "", OpenFailure::NotASerialPort, "",
         "Failed to open the device.\n\n/dev/ttyS0\nThe device is not a serial port."},
        {0, "", OpenFailure::Other, "Input/output error",
         "Failed to open the device.\n\n/dev/ttyS0\nInput/output error"},
    };
    failOpen = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        machine.line.PortNo = c.portNo;
        std::snprintf(machine.line.PortName, sizeof machine.line.PortName, "%s", c.portName);
        failWith = OpenedLine{};
        failWith.error.kind = c.failure;
        failWith.error.text = c.detail;
        host.errors.clear();
        EXPECT_EQ(ComOpen(ctx, 2), -2);
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_EQ(host.errors[0], c.message);
        EXPECT_EQ(openedFile, "(none)");
    }
}

TEST_F(PortOpen, cancelledDeviceFileChoiceFailsWithoutMessageOrOpen) {
    machine.config.OutofFile = 1;
    host.deviceFile = "";
    EXPECT_EQ(open(1, true), -2);
    EXPECT_TRUE(host.errors.empty());
    EXPECT_EQ(openCalls, 0);
}

TEST_F(PortOpen, deviceFileIsOpenedByTheChosenPathAndNamedWhenItFails) {
    machine.config.OutofFile = 1;
    host.deviceFile = "/tmp/out.nc";
    EXPECT_EQ(open(2, true), 0);
    EXPECT_EQ(openedFile, "/tmp/out.nc");
    EXPECT_EQ(ComClose(ctx, 0), 0);

    failOpen = true;
    failWith.error.kind = OpenFailure::Other;
    failWith.error.text = "No such file or directory";
    EXPECT_EQ(open(1, true), -2);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0],
              "Failed to open the device.\n\n/tmp/out.nc\nNo such file or directory");
}

// --- the line check and its display ---------------------------------------------------------

struct HoldCase {
    const char* name;
    int handShake;
    bool cts, dsr, xoff;
    int reading;
    int result;
    const char* waitingLine; // "" when none is shown
    const char* status;
};

using PortCheckLine = PortFixture;

TEST_F(PortCheckLine, showsTheFirstMatchingHoldOnly) {
    const HoldCase cases[] = {
        {"cts", 4, true, false, false, 0, 0, "-----> [CTS] Waiting for a signal...", "CTS"},
        {"cts while reading", 4, true, false, false, 1, 0, "-----> [CTS] Waiting for a signal...",
         "CTS"},
        {"dsr", 2, false, true, false, 0, 0, "-----> [DSR] Waiting for a signal...", "DSR"},
        {"dsr while reading", 2, false, true, false, 1, 0, "-----> [DSR] Waiting for a signal...",
         "DSR"},
        {"xoff", 1, false, false, true, 0, 0, "-----> [Xon(DC1)] Waiting for a signal...", "Xoff"},
        {"xoff never shown to a read", 1, false, false, true, 1, 1, "", ""},
        {"cts before dsr before xoff", 7, true, true, true, 0, 0,
         "-----> [CTS] Waiting for a signal...", "CTS"},
        {"dsr before xoff", 7, false, true, true, 0, 0, "-----> [DSR] Waiting for a signal...",
         "DSR"},
        {"cts off without rts/cts handshake", 3, true, false, false, 0, 1, "", ""},
        {"dsr off without dsr/dtr handshake", 5, false, true, false, 0, 1, "", ""},
        {"nothing held", 7, false, false, false, 0, 1, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine.line.HandShake = c.handShake;
        ASSERT_EQ(open(2), 0);
        line().setCtsHeld(c.cts);
        line().setDsrHeld(c.dsr);
        if (c.xoff)
            line().input("\x13");
        host.flow.clear();
        host.status.clear();

        EXPECT_EQ(ComCheckLine(ctx, 0, c.reading), c.result);
        if (*c.waitingLine) {
            ASSERT_EQ(host.flow.size(), 1u);
            EXPECT_EQ(host.flow[0], c.waitingLine);
        } else {
            EXPECT_TRUE(host.flow.empty());
        }
        ASSERT_FALSE(host.status.empty());
        EXPECT_EQ(host.status.back().first, 1);
        EXPECT_EQ(host.status.back().second, c.status);
        ComClose(ctx, 0);
    }
}

TEST_F(PortCheckLine, statusPartOneClearsWhenTheHoldEnds) {
    machine.line.HandShake = 4;
    ASSERT_EQ(open(2), 0);
    line().holdCtsAfter(0, 200 * Ms);
    EXPECT_EQ(ComCheckLine(ctx, 0, 0), 0);
    EXPECT_EQ(host.statusOf(1), "CTS");
    clock.advance(200 * Ms);
    EXPECT_EQ(ComCheckLine(ctx, 0, 0), 1);
    EXPECT_EQ(host.statusOf(1), "");
}

TEST_F(PortCheckLine, unreadableStatusRefusesWritesButLetsReadsThrough) {
    ASSERT_EQ(open(1), 0);
    line().input("A");
    line().failStatus(true);
    EXPECT_EQ(ComCheckLine(ctx, 0, 0), 0);
    EXPECT_EQ(ComWriteByte(ctx, 0, 'x'), -1);
    EXPECT_EQ(line().written(), "");
    EXPECT_EQ(ComReadByte(ctx, 0), 'A');
}

TEST_F(PortCheckLine, fileDeviceIsAlwaysClear) {
    machine.line.HandShake = 7;
    machine.config.Xoff = 1;
    machine.config.OutofFile = 1;
    host.deviceFile = "/tmp/x";
    ASSERT_EQ(open(2, true), 0);
    line().setCtsHeld(true);
    line().setDsrHeld(true);
    EXPECT_EQ(ComCheckLine(ctx, 0, 0), 1);
    EXPECT_EQ(ComWriteByte(ctx, 0, 'A'), 0);
    EXPECT_TRUE(host.flow.empty());
}

// --- writing ----------------------------------------------------------------------------------

using PortWrite = PortFixture;

TEST_F(PortWrite, waitingForDc1SendsNothingUntilTheMachinesXon) {
    machine.line.HandShake = 1;
    machine.config.Xoff = 1;
    ASSERT_EQ(open(2), 0);
    line().input("\x11", 300 * Ms);

    EXPECT_EQ(ComWriteByte(ctx, 0, '%'), -1);
    EXPECT_EQ(host.flow.back(), "-----> [Xon(DC1)] Waiting for a signal...");
    EXPECT_EQ(host.statusOf(1), "Xoff");
    EXPECT_GT(sendWithRetry('%'), 1);
    EXPECT_EQ(line().written(), "%");
    EXPECT_GE(clock.now(), 300 * Ms);
    EXPECT_LE(clock.now(), 320 * Ms); // woken by the XON, not by a long sleep
    EXPECT_EQ(host.statusOf(1), "");
}

TEST_F(PortWrite, waitingForDc1NeedsXonXoffAndASend) {
    struct Case {
        int handShake;
        int direction;
        int result;
    } cases[] = {{1, 2, -1}, {6, 2, 0}, {1, 1, 0}};
    machine.config.Xoff = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.handShake * 10 + c.direction);
        machine.line.HandShake = c.handShake;
        ASSERT_EQ(open(c.direction), 0);
        EXPECT_EQ(ComWriteByte(ctx, 0, 'A'), c.result);
        ComClose(ctx, 0);
    }
}

TEST_F(PortWrite, heldLineRetriesWithoutSpinningUntilInterrupted) {
    machine.line.HandShake = 4;
    ASSERT_EQ(open(2), 0);
    line().setCtsHeld(true);
    host.onPump = [&] {
        if (clock.now() >= 3000 * Ms)
            state.InterruptRequest = 1;
    };
    int attempts = 0;
    for (;;) {
        ++attempts;
        if (ComWriteByte(ctx, 0, 'A') == 0)
            break;
        host.serviceMessages();
        if (state.InterruptRequest != 0 || attempts > MaxAttempts)
            break;
    }
    EXPECT_EQ(line().written(), "");
    const uint64_t seconds = clock.now() / (1000 * Ms);
    ASSERT_EQ(seconds, 3u);
    // One attempt sleeps one slice on the line: about 50 attempts a simulated second.
    EXPECT_GE(attempts / 3, 40);
    EXPECT_LE(attempts / 3, 60);
    ASSERT_EQ(host.flow.size(), 1u); // one waiting line, however often it is tested
}

TEST_F(PortWrite, dsrHoldAfterSomeBytesHoldsTheNextUntilItEnds) {
    machine.line.HandShake = 2;
    ASSERT_EQ(open(2), 0);
    line().holdDsrAfter(2, 500 * Ms);
    EXPECT_EQ(sendWithRetry('A'), 1);
    EXPECT_EQ(sendWithRetry('B'), 1);
    EXPECT_GT(sendWithRetry('C'), 1);
    EXPECT_EQ(line().written(), "ABC");
    EXPECT_GE(clock.now(), 500 * Ms);
    EXPECT_EQ(host.flow.back(), "-----> [DSR] Waiting for a signal...");
}

TEST_F(PortWrite, xoffInTheMiddleHoldsUntilXonWithCustomCodes) {
    struct Case {
        int start, stop;
        std::string xoff, xon;
    } cases[] = {{0x11, 0x13, "\x13", "\x11"},
                 {0x105, 0x206, "\x06", "\x05"}, // only the low byte counts
                 {0x00, 0x13, "\x13", std::string(1, '\0')},
                 {0x11, 0x00, std::string(1, '\0'), "\x11"}};
    machine.line.HandShake = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        machine.line.PtrStart = c.start;
        machine.line.PtrStop = c.stop;
        clock.set(0);
        ASSERT_EQ(open(2), 0);
        line().input(c.xoff, 10 * Ms);
        line().input(c.xon, 400 * Ms);
        EXPECT_EQ(sendWithRetry('A'), 1);
        clock.set(10 * Ms);
        EXPECT_GT(sendWithRetry('B'), 1);
        EXPECT_GE(clock.now(), 400 * Ms);
        EXPECT_EQ(line().written(), "AB");
        ComClose(ctx, 0);
    }
}

TEST_F(PortWrite, failingWritesAreRefusedWithoutSpinning) {
    ASSERT_EQ(open(2), 0);
    line().failWritesAfter(1);
    EXPECT_EQ(ComWriteByte(ctx, 0, 'A'), 0);
    const uint64_t before = clock.now();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(ComWriteByte(ctx, 0, 'B'), -1);
    EXPECT_GE(clock.now() - before, 10 * 10 * Ms);
    EXPECT_EQ(line().written(), "A");
}

TEST_F(PortWrite, sendDelayWaitsAndAnInterruptCutsItShort) {
    ASSERT_EQ(open(2), 0);
    machine.config.SendDelay = 0;
    EXPECT_EQ(ComWriteByte(ctx, 0, 'A'), 0);
    EXPECT_EQ(clock.now(), 0u);

    machine.config.SendDelay = 250;
    EXPECT_EQ(ComWriteByte(ctx, 0, 'B'), 0);
    EXPECT_EQ(clock.now(), 250 * Ms);

    host.onPump = [&] {
        if (clock.now() >= 340 * Ms)
            state.InterruptRequest = 1;
    };
    EXPECT_EQ(ComWriteByte(ctx, 0, 'C'), 0);
    EXPECT_LT(clock.now(), 400 * Ms);
    EXPECT_EQ(line().written(), "ABC");
}

// --- reading ----------------------------------------------------------------------------------

using PortRead = PortFixture;

TEST_F(PortRead, flowCodesAreTakenOutAndNulsDropped) {
    struct Case {
        const char* name;
        int handShake, start, stop;
        std::string in, out;
    } cases[] = {
        {"standard codes", 1, 0x11, 0x13,
         std::string("A\x13"
                     "B\x11"
                     "C",
                     5),
         "ABC"},
        {"codes passed without xon/xoff", 6, 0x11, 0x13,
         "A\x13"
         "B\x11"
         "C",
         "A\x13"
         "B\x11"
         "C"},
        {"nul dropped", 0, 0x11, 0x13, std::string("A\0B\0\0C", 6), "ABC"},
        {"nul as xon is a flow code", 1, 0x00, 0x13, std::string("A\x13\0B", 4), "AB"},
        {"custom codes", 1, 0x05, 0x06,
         "\x05"
         "A\x11\x06"
         "B\x13",
         "A\x11"
         "B\x13"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine.line.HandShake = c.handShake;
        machine.line.PtrStart = c.start;
        machine.line.PtrStop = c.stop;
        ASSERT_EQ(open(1), 0);
        line().input(c.in);
        std::string got;
        for (int b; (b = ComReadByte(ctx, 0)) >= 0;)
            got.push_back(static_cast<char>(b));
        EXPECT_EQ(got, c.out);
        ComClose(ctx, 0);
    }
}

TEST_F(PortRead, byte255IsAByteNotNothing) {
    ASSERT_EQ(open(1), 0);
    line().input("\xFF");
    EXPECT_EQ(ComReadByte(ctx, 0), 255);
    EXPECT_EQ(ComReadByte(ctx, 0), -1);
}

TEST_F(PortRead, withoutTimeOutOneReadWaitsASecondAndNeverTimesOut) {
    ASSERT_EQ(open(1), 0);
    for (int i = 0; i < 5; ++i) {
        const uint64_t before = clock.now();
        EXPECT_EQ(ComReadByte(ctx, 0), -1);
        EXPECT_EQ(clock.now() - before, 1000 * Ms);
    }
    line().input("Z", clock.now() + 700 * Ms);
    EXPECT_EQ(ComReadByte(ctx, 0), 'Z');
}

TEST_F(PortRead, timeOutGivesMinusTwoAfterPtrTimeOut) {
    machine.config.PtrTimeOut = 2500;
    ASSERT_EQ(open(1), 0);
    line().input("A", 2400 * Ms);
    EXPECT_EQ(ComReadByte(ctx, 0), 'A');
    const uint64_t before = clock.now();
    const int pumpsBefore = host.pumps;
    EXPECT_EQ(ComReadByte(ctx, 0), -2);
    EXPECT_GE(clock.now() - before, 2500 * Ms);
    EXPECT_LT(clock.now() - before, 2520 * Ms);
    EXPECT_LE(host.pumps - pumpsBefore, 2500 / 20 + 2); // pumps once a slice, not in a spin
}

TEST_F(PortRead, interruptEndsTheWaitWithMinusOne) {
    machine.config.PtrTimeOut = 5000;
    ASSERT_EQ(open(1), 0);
    host.onPump = [&] {
        if (clock.now() >= 100 * Ms)
            state.InterruptRequest = 1;
    };
    EXPECT_EQ(ComReadByte(ctx, 0), -1);
    EXPECT_LT(clock.now(), 200 * Ms);
}

TEST_F(PortRead, readsShowCtsButNotXoff) {
    machine.line.HandShake = 5;
    ASSERT_EQ(open(1), 0);
    line().input("\x13"
                 "A");
    EXPECT_EQ(ComReadByte(ctx, 0), 'A');
    EXPECT_TRUE(host.flow.empty());
    line().setCtsHeld(true);
    line().input("B");
    EXPECT_EQ(ComReadByte(ctx, 0), 'B'); // a held line still delivers
    ASSERT_EQ(host.flow.size(), 1u);
    EXPECT_EQ(host.flow[0], "-----> [CTS] Waiting for a signal...");
}

TEST_F(PortRead, fileAtItsEndAnswersAtOnceOrAfterTheTimeOut) {
    machine.config.OutofFile = 1;
    host.deviceFile = "/tmp/in.nc";
    ASSERT_EQ(open(1, true), 0);
    line().input(std::string("A\0\x13", 3));
    EXPECT_EQ(ComReadByte(ctx, 0), 'A');
    EXPECT_EQ(ComReadByte(ctx, 0), 0); // a file is not a line: NUL and DC3 are data
    EXPECT_EQ(ComReadByte(ctx, 0), 0x13);
    EXPECT_EQ(ComReadByte(ctx, 0), -1);
    EXPECT_EQ(clock.now(), 0u);

    machine.config.PtrTimeOut = 300;
    const int pumpsBefore = host.pumps;
    EXPECT_EQ(ComReadByte(ctx, 0), -2);
    EXPECT_GE(clock.now(), 300 * Ms);
    EXPECT_LE(host.pumps - pumpsBefore, 300 / 20 + 2);
}

// --- closing ----------------------------------------------------------------------------------

using PortClose = PortFixture;

TEST_F(PortClose, closeSequenceForPortAndFile) {
    struct Case {
        bool file;
        std::vector<std::string> calls;
        uint64_t pause;
    } cases[] = {{false, {"drain", "purge", "dtr", "close"}, 1000 * Ms},
                 {true, {"drain", "close"}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        machine.config.OutofFile = c.file ? 1 : 0;
        host.deviceFile = "/tmp/f";
        ASSERT_EQ(open(2, c.file), 0);
        // The pause before DTR drops pumps the window, and is not cut short by an interrupt.
        std::vector<std::string> duringPause;
        host.onPump = [&] { duringPause = line().closeCalls(); };
        state.InterruptRequest = 1;
        const uint64_t before = clock.now();
        EXPECT_EQ(ComClose(ctx, 0), 0);
        host.onPump = nullptr;
        EXPECT_EQ(line().closeCalls(), c.calls);
        EXPECT_EQ(clock.now() - before, c.pause);
        if (!c.file) {
            EXPECT_EQ(duringPause, (std::vector<std::string>{"drain", "purge"}));
        }
        EXPECT_EQ(ctx.port, nullptr);
        EXPECT_EQ(ComClose(ctx, 0), -1);
    }
}

TEST_F(PortClose, negativeHandleDoesNothing) {
    ASSERT_EQ(open(2), 0);
    EXPECT_EQ(ComClose(ctx, -2), -1);
    EXPECT_NE(ctx.port, nullptr);
    EXPECT_EQ(ComWriteByte(ctx, -2, 'A'), -1);
    EXPECT_EQ(ComReadByte(ctx, -2), -1);
}

} // namespace
} // namespace corvane::testing
