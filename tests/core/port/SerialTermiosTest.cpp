#include <gtest/gtest.h>

#include <cstring>

#include "settings/MachineDef.h"
#include "transfer/SerialTermios.h"

namespace corvane {
namespace {

// A driver state with every flag up, so the test sees what the builder clears.
termios dirty() {
    termios t;
    std::memset(&t, 0xFF, sizeof t);
    return t;
}

MachineLine lineWith(int outCode, int dataLen, int parity, int stop, int handShake) {
    MachineLine l;
    l.OutCode = outCode;
    l.DataLen = dataLen;
    l.Parity = parity;
    l.Stop = stop;
    l.HandShake = handShake;
    return l;
}

struct FramingCase {
    const char* name;
    int direction, outCode, dataLen, parity, stop;
    tcflag_t size;       // under CSIZE
    tcflag_t parityBits; // under PARENB|PARODD
    tcflag_t stopBits;   // under CSTOPB
};

TEST(SerialTermios, framingFollowsTheWireCodeAndDirection) {
    const FramingCase cases[] = {
        {"iso send ignores DataLen/Parity", 2, 0, 1, 0, 0, CS7, PARENB, 0},
        {"iso send two stop bits", 2, 0, 1, 1, 1, CS7, PARENB, CSTOPB},
        {"eia send", 2, 1, 0, 2, 0, CS8, 0, 0},
        {"ascii 7 none", 2, 2, 0, 0, 0, CS7, 0, 0},
        {"ascii 7 odd", 2, 2, 0, 1, 0, CS7, PARENB | PARODD, 0},
        {"ascii 7 even", 2, 2, 0, 2, 1, CS7, PARENB, CSTOPB},
        {"ascii 8 none", 2, 2, 1, 0, 1, CS8, 0, CSTOPB},
        {"ascii 8 odd", 2, 2, 1, 1, 0, CS8, PARENB | PARODD, 0},
        {"ascii 8 even", 2, 2, 1, 2, 0, CS8, PARENB, 0},
        {"ascii DataLen 2 is 8 bits", 2, 2, 2, 0, 0, CS8, 0, 0},
        {"ascii Parity 3 is none", 2, 2, 0, 3, 0, CS7, 0, 0},
        {"ascii Parity -1 is none", 2, 2, 0, -1, 0, CS7, 0, 0},
        {"Stop 2 is one stop bit", 2, 2, 1, 0, 2, CS8, 0, 0},
        {"other OutCode takes DataLen/Parity", 2, 7, 0, 1, 0, CS7, PARENB | PARODD, 0},
        {"receive iso is 8 none", 1, 0, 0, 2, 0, CS8, 0, 0},
        {"receive ascii 7 even is 8 none", 1, 2, 0, 2, 1, CS8, 0, CSTOPB},
        {"receive eia", 1, 1, 0, 1, 0, CS8, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const termios t = BuildSerialTermios(
            dirty(), lineWith(c.outCode, c.dataLen, c.parity, c.stop, 0), c.direction);
        EXPECT_EQ(t.c_cflag & CSIZE, c.size);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD), c.parityBits);
        EXPECT_EQ(t.c_cflag & CSTOPB, c.stopBits);
    }
}

struct HandShakeCase {
    int handShake;
    int start, stop;
    bool crtscts;
    bool ixoff;
    cc_t vstart, vstop;
};

TEST(SerialTermios, handShakeSetsHardwareFlowAndInputXoffOnly) {
    const HandShakeCase cases[] = {
        {0, 0x11, 0x13, false, false, 0, 0},       {1, 0x11, 0x13, false, true, 0x11, 0x13},
        {2, 0x11, 0x13, false, false, 0, 0}, // DSR/DTR has no termios flag
        {4, 0x11, 0x13, true, false, 0, 0},        {7, 0x11, 0x13, true, true, 0x11, 0x13},
        {5, 0x105, 0x206, true, true, 0x05, 0x06}, // low bytes
        {1, 0x00, 0x13, false, false, 0, 0},       // the kernel cannot send a code of 0
        {1, 0x11, 0x100, false, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.handShake * 1000 + c.start);
        MachineLine l = lineWith(2, 1, 0, 0, c.handShake);
        l.PtrStart = c.start;
        l.PtrStop = c.stop;
        for (int direction : {1, 2}) {
            const termios t = BuildSerialTermios(dirty(), l, direction);
            EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.crtscts);
            EXPECT_EQ((t.c_iflag & IXOFF) != 0, c.ixoff);
            EXPECT_EQ(t.c_iflag & (IXON | IXANY),
                      0u); // output XON/XOFF is ours, never the kernel's
            if (c.ixoff) {
                EXPECT_EQ(t.c_cc[VSTART], c.vstart);
                EXPECT_EQ(t.c_cc[VSTOP], c.vstop);
            }
        }
    }
}

TEST(SerialTermios, rawLineWithModemControlOffAndNoParityMangling) {
    const termios t = BuildSerialTermios(dirty(), lineWith(0, 0, 2, 0, 7), 2);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | HUPCL), tcflag_t(CLOCAL | CREAD | HUPCL));
    EXPECT_EQ(t.c_iflag &
                  (INPCK | ISTRIP | IGNPAR | PARMRK | ICRNL | INLCR | IGNCR | IGNBRK | BRKINT),
              0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(SerialTermios, speedFromTheBaudRateIndex) {
    const struct {
        int index;
        speed_t speed;
    } cases[] = {{0, B300},   {1, B600},   {2, B1200}, {3, B2400},  {4, B4800},   {5, B9600},
                 {6, B19200}, {7, B38400}, {8, B9600}, {-1, B9600}, {1000, B9600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        MachineLine l;
        l.BaudRate = c.index;
        const termios t = BuildSerialTermios(dirty(), l, 2);
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(cfgetispeed(&t), c.speed);
    }
}

} // namespace
} // namespace corvane
