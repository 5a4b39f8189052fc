#include <gtest/gtest.h>

#include <bitset>
#include <map>

#include "settings/MachineDef.h"
#include "transfer/TapeCode.h"

using namespace corvane;

namespace {

// The EIA RS-244 codes, written out here rather than taken from the table under test.
const std::map<int, int> ExpectedEia = {
    {'0', 0x20},  {'1', 0x01},  {'2', 0x02},  {'3', 0x13}, {'4', 0x04},  {'5', 0x15},  {'6', 0x16},
    {'7', 0x07},  {'8', 0x08},  {'9', 0x19},  {'A', 0x61}, {'B', 0x62},  {'C', 0x73},  {'D', 0x64},
    {'E', 0x75},  {'F', 0x76},  {'G', 0x67},  {'H', 0x68}, {'I', 0x79},  {'J', 0x51},  {'K', 0x52},
    {'L', 0x43},  {'M', 0x54},  {'N', 0x45},  {'O', 0x46}, {'P', 0x57},  {'Q', 0x58},  {'R', 0x49},
    {'S', 0x32},  {'T', 0x23},  {'U', 0x34},  {'V', 0x25}, {'W', 0x26},  {'X', 0x37},  {'Y', 0x38},
    {'Z', 0x29},  {' ', 0x10},  {'%', 0x0B},  {'&', 0x0E}, {'(', 0x1A},  {')', 0x4A},  {'+', 0x70},
    {',', 0x3B},  {'-', 0x40},  {'.', 0x6B},  {'/', 0x31}, {0x08, 0x2A}, {0x09, 0x3E}, {0x0A, 0x80},
    {0x12, 0x12}, {0x14, 0x14}, {0x7F, 0x7F},
};

} // namespace

TEST(TapeCodeTable, everyAsciiCharacterSendsItsEiaCodeOrBlankTape) {
    ASSERT_EQ(ExpectedEia.size(), 52u);
    for (int c = 0; c < 128; ++c) {
        const auto it = ExpectedEia.find(c);
        const int expected = it == ExpectedEia.end() ? 0x00 : it->second;
        EXPECT_EQ(EiaSendTable[c], expected) << "character 0x" << std::hex << c;
    }
}

TEST(TapeCodeTable, everyCodeButDc2AndDc4HasOddParityInTheLowSevenBits) {
    for (const auto& [c, code] : ExpectedEia) {
        if (c == 0x12 || c == 0x14 || c == 0x0A)
            continue;
        EXPECT_EQ(std::bitset<7>(static_cast<unsigned>(code)).count() % 2, 1u)
            << "character 0x" << std::hex << c;
    }
}

TEST(TapeCodeTable, everyReceivedByteReadsAsTheCharacterItWasSentFor) {
    std::map<int, int> expected; // byte -> ASCII
    for (const auto& [c, code] : ExpectedEia)
        if (code < 0x80)
            expected[code] = c;
    expected[0x11] = 0x11; // DC1
    for (int b = 0x80; b < 0x100; ++b)
        if (expected.count(b & 0x7F))
            expected[b] = expected[b & 0x7F];
    expected[0x80] = 0x0A;
    expected[0x8B] = 0x0B;
    expected[0x8D] = 0x0D;
    expected[0x93] = 0x13;

    for (int b = 0; b < 256; ++b) {
        const auto it = expected.find(b);
        EXPECT_EQ(EiaReceiveTable[b], it == expected.end() ? 0x00 : it->second)
            << "byte 0x" << std::hex << b;
    }
}

TEST(TapeCodeTable, theReceiveSpecialsSpelledOut) {
    struct Case {
        int byte;
        int ascii;
    };
    const Case cases[] = {
        {0x80, 0x0A}, {0x0B, '%'},  {0x8B, 0x0B}, {0x93, 0x13}, {0x13, '3'},  {0x11, 0x11},
        {0x8D, 0x0D}, {0x0D, 0x00}, {0x00, 0x00}, {0xE1, 'A'},  {0xA0, '0'},  {0x12, 0x12},
        {0x14, 0x14}, {0x7F, 0x7F}, {0xFF, 0x7F}, {0x2A, 0x08}, {0x3E, 0x09}, {0x1A, '('},
        {0x4A, ')'},  {0x10, ' '},  {0x90, ' '},  {0x91, 0x11}, {0x03, 0x00},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EiaReceiveTable[c.byte], c.ascii) << "byte 0x" << std::hex << c.byte;
}

TEST(TapeCodeFraming, dataBitsParityAndStopBitsPerCodeAndDirection) {
    struct Case {
        int outCode, dataLen, parity, stop, direction;
        int bits;
        char par;
        int stopBits;
    };
    const Case cases[] = {
        // Sending: ISO and EIA fix the frame whatever DataLen and Parity say.
        {0, 1, 0, 0, 2, 7, 'E', 1},
        {0, 0, 1, 1, 2, 7, 'E', 2},
        {1, 0, 2, 0, 2, 8, 'N', 1},
        {1, 1, 1, 1, 2, 8, 'N', 2},
        // ASCII, and any other code, from DataLen and Parity.
        {2, 0, 0, 0, 2, 7, 'N', 1},
        {2, 1, 1, 0, 2, 8, 'O', 1},
        {2, 0, 2, 0, 2, 7, 'E', 1},
        {2, 2, 3, 2, 2, 8, 'N', 1},
        {2, -1, -1, -1, 2, 8, 'N', 1},
        {7, 0, 1, 1, 2, 7, 'O', 2},
        // Receiving: 8 bits, no parity, always.
        {0, 0, 2, 0, 1, 8, 'N', 1},
        {1, 0, 1, 1, 1, 8, 'N', 2},
        {2, 0, 2, 0, 1, 8, 'N', 1},
    };
    for (const Case& c : cases) {
        MachineLine line;
        line.OutCode = c.outCode;
        line.DataLen = c.dataLen;
        line.Parity = c.parity;
        line.Stop = c.stop;
        const Framing f = FramingFor(line, c.direction);
        EXPECT_EQ(f.dataBits, c.bits) << c.outCode << "/" << c.dataLen << "/" << c.direction;
        EXPECT_EQ(f.parity, c.par) << c.outCode << "/" << c.parity << "/" << c.direction;
        EXPECT_EQ(f.stopBits, c.stopBits) << c.stop;
    }
}
