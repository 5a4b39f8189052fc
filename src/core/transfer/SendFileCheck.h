#pragma once
// What a send would have to change in a program to get it onto the line: a line too long for
// one block, a binary file, a character the machine's code cannot carry. The send is checked
// before it starts, so the user hears which line it is instead of the control reading a
// program that differs from the file.

#include <string>

#include "settings/MachineDef.h"
#include "support/StringTable.h"

namespace corvane {

// The longest line that goes out as one block; a longer one would be cut into two.
constexpr int SendLineLimit = 511;

enum class SendFileFault {
    None,
    LineTooLong, // a line over SendLineLimit characters
    Binary,      // a NUL byte: not a text file (the send may go on if the user says so)
    NotCarried,  // a character the machine's code and line cannot carry, in a line that goes out
    NotRead,     // the file could not be read (the send itself tells that)
};

struct SendFileCheck {
    SendFileFault fault = SendFileFault::None;
    int line = 0;   // counted from 1
    int column = 0; // NotCarried: the byte's column, counted from 1
    int length = 0; // LineTooLong: the line's length without its line end
};

// Checks one file as the send engine would read it. With `binaryAccepted` a NUL byte is let
// through (the user was asked), and the other checks go on past it.
SendFileCheck CheckSendFile(const char* path, const MachineDef& machine,
                            bool binaryAccepted = false);

// Whether the machine's code and line carry the byte `c` of a block unchanged.
bool CodeCarries(const MachineLine& line, unsigned char c);

// "ISO", "EIA" or "ASCII": the code named in the messages.
const char* CodeName(const MachineLine& line);

// The message for a fault (empty for None and NotRead), naming the file and the line.
std::string DescribeSendFileCheck(const SendFileCheck& check, const std::string& path,
                                  const MachineLine& line, Language language);

} // namespace corvane
