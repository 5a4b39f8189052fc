#pragma once
// What the service reads out of a received program before it files it: the program number
// that names it, and a request comment that turns it into a question for the library.
// Pure functions over the text, so every form an operator might punch is tested in a table.

#include <optional>
#include <string>
#include <string_view>

namespace corvane::serve {

constexpr int DefaultScanLines = 5;

// The first `O` followed by 1 to 8 digits (and no further digit) at the start of one of the
// first `scanLines` non-empty lines, a leading `%` of a line set aside; kept as written
// ("O0012"). Empty when there is none.
std::string programNumber(std::string_view text, int scanLines);

struct RemoteRequest {
    std::string name;    // as punched, blanks around it removed; not yet checked
    std::string restart; // "(REQ=O1234 T5)": where to restart the program, not yet checked
};

// A comment "(REQ=NAME)" or "(PRG=NAME)" (keyword in any case, blanks allowed around "=")
// within the first `scanLines` non-empty lines. A word after the name ("(REQ=O1234 N5230)")
// asks for the program restarted from there.
std::optional<RemoteRequest> findRequest(std::string_view text, int scanLines);

// A name from the machine or the broker names a program in the library and nothing else:
// only [A-Za-z0-9_.-], not empty, not "." or "..", no "..", at most 64 characters.
bool isLibraryName(std::string_view name);

// The name as it may stand inside a reply comment: anything that could end the comment or
// upset a control ("(", ")", control codes, non-ASCII) becomes "?", and it is cut to 32
// characters, so a hostile request cannot shape the reply.
std::string commentSafe(std::string_view name);

// "DIRLIST" in any case.
bool isDirectoryListRequest(std::string_view name);

} // namespace corvane::serve
