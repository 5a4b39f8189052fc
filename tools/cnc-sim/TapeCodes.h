#pragma once
// How a machine tool punches a program: the character codes of the line (ISO, EIA RS-244 and
// plain ASCII), the line ends and the parity bit. The tables here are the simulator's own, kept
// apart from the program under test on purpose: a shared table would agree with itself.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cncsim {

enum class TapeCode { Iso, Eia, Ascii };
enum class LineEnd { Lf, CrLf, Cr };
enum class Parity { None, Even, Odd };

// The EIA RS-244 code of an ASCII character, 0 when it has none. Lower-case letters have the
// code of their capital: the tape has no case.
uint8_t eiaCodeOf(char c);

// The 7-bit character with bit 7 set or cleared so the byte has the requested parity.
uint8_t withParity(uint8_t c, Parity parity);

struct EncodeResult {
    std::vector<uint8_t> bytes;
    std::string error; // empty when the whole text could be encoded
};

// Turns program text into what the machine puts on the line. CR in the text is dropped and LF
// becomes the line end of the code: 0x80 (end of block) under EIA, else as `lineEnd` says.
EncodeResult encodeProgram(std::string_view text, TapeCode code, LineEnd lineEnd, Parity parity);

} // namespace cncsim
