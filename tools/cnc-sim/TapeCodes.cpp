#include "TapeCodes.h"

#include <array>
#include <bit>
#include <cstdio>

namespace cncsim {

namespace {

struct EiaEntry {
    char character;
    uint8_t code;
};

// EIA RS-244: each code has an odd number of holes in channels 1 to 7 (channel 5 is the parity
// hole), except DC2 and DC4 which pass unchanged; end of block is channel 8 alone.
// clang-format off
constexpr std::array<EiaEntry, 52> kEiaCodes{{
    {'0', 0x20}, {'1', 0x01}, {'2', 0x02}, {'3', 0x13}, {'4', 0x04}, {'5', 0x15},
    {'6', 0x16}, {'7', 0x07}, {'8', 0x08}, {'9', 0x19},
    {'A', 0x61}, {'B', 0x62}, {'C', 0x73}, {'D', 0x64}, {'E', 0x75}, {'F', 0x76},
    {'G', 0x67}, {'H', 0x68}, {'I', 0x79}, {'J', 0x51}, {'K', 0x52}, {'L', 0x43},
    {'M', 0x54}, {'N', 0x45}, {'O', 0x46}, {'P', 0x57}, {'Q', 0x58}, {'R', 0x49},
    {'S', 0x32}, {'T', 0x23}, {'U', 0x34}, {'V', 0x25}, {'W', 0x26}, {'X', 0x37},
    {'Y', 0x38}, {'Z', 0x29},
    {' ', 0x10}, {'%', 0x0B}, {'&', 0x0E}, {'(', 0x1A}, {')', 0x4A}, {'+', 0x70},
    {',', 0x3B}, {'-', 0x40}, {'.', 0x6B}, {'/', 0x31},
    {'\b', 0x2A}, {'\t', 0x3E}, {'\n', 0x80}, {'\x12', 0x12}, {'\x14', 0x14}, {'\x7f', 0x7F},
}};
// clang-format on

std::string describe(uint8_t c) {
    char text[32];
    if (c >= 0x21 && c < 0x7F)
        std::snprintf(text, sizeof text, "'%c' (0x%02X)", c, c);
    else
        std::snprintf(text, sizeof text, "0x%02X", c);
    return text;
}

void appendLineEnd(std::vector<uint8_t>& out, TapeCode code, LineEnd lineEnd, Parity parity) {
    if (code == TapeCode::Eia) {
        out.push_back(0x80);
        return;
    }
    if (lineEnd == LineEnd::CrLf || lineEnd == LineEnd::Cr)
        out.push_back(withParity('\r', parity));
    if (lineEnd == LineEnd::CrLf || lineEnd == LineEnd::Lf)
        out.push_back(withParity('\n', parity));
}

} // namespace

uint8_t eiaCodeOf(char c) {
    if (c >= 'a' && c <= 'z')
        c = char(c - 'a' + 'A');
    for (const auto& entry : kEiaCodes)
        if (entry.character == c)
            return entry.code;
    return 0;
}

uint8_t withParity(uint8_t c, Parity parity) {
    c &= 0x7F;
    bool oddOnes = std::popcount(unsigned(c)) % 2 == 1;
    if ((parity == Parity::Even && oddOnes) || (parity == Parity::Odd && !oddOnes))
        c |= 0x80;
    return c;
}

EncodeResult encodeProgram(std::string_view text, TapeCode code, LineEnd lineEnd, Parity parity) {
    EncodeResult result;
    int line = 1;
    for (char ch : text) {
        auto c = uint8_t(ch);
        if (c == '\r')
            continue;
        if (c == '\n') {
            appendLineEnd(result.bytes, code, lineEnd, parity);
            ++line;
            continue;
        }
        if (c > 0x7F) {
            result.error = "line " + std::to_string(line) + ": byte " + describe(c) +
                           " is not an ASCII character";
            return result;
        }
        if (code == TapeCode::Eia) {
            uint8_t eia = eiaCodeOf(char(c));
            if (eia == 0) {
                result.error = "line " + std::to_string(line) + ": character " + describe(c) +
                               " has no EIA code";
                return result;
            }
            result.bytes.push_back(eia);
        } else {
            result.bytes.push_back(withParity(c, parity));
        }
    }
    return result;
}

} // namespace cncsim
