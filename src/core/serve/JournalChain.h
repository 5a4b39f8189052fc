#pragma once
// The journal's chain: every record carries "prev", the SHA-256 of the line before it as it
// stands in the file (its bytes without the line end). The first record of a file carries the
// digest of the last line of the file it continues, or 64 zeros when it continues none. An
// edited, removed or reordered line then no longer matches the "prev" of the line after it.
// Anyone can recompute a chain, so it shows changes made to part of a journal; a journal
// rewritten whole from some record on needs a digest kept elsewhere (the last "prev" noted by
// an auditor) to be caught.

#include <string>
#include <string_view>
#include <vector>

namespace corvane::serve {

// The "prev" of the first record of a journal that continues nothing.
inline const std::string NoPreviousLine(64, '0');

// The last complete line (ended by LF) of an open file, without its LF; empty when the file
// holds no complete line. A torn tail after it (a write cut short) is not a line.
std::string lastCompleteLine(int fd);

struct ChainCheck {
    enum class Outcome { Holds, Unchained, Broken, Unreadable };
    Outcome outcome = Outcome::Holds;
    size_t records = 0;
    std::string message;               // Broken / Unreadable: "FILE:LINE: why"; else a summary
    std::vector<std::string> warnings; // unchained files, a chain started anew
};

// Reads the journals in the order given, as one chain.
ChainCheck verifyJournals(const std::vector<std::string>& paths);

} // namespace corvane::serve
