#pragma once
// A control that asks whether the program it holds is the library's: it punches the program
// with "(CMP=NAME)" in its head and is answered with a short program of comments instead of
// having the program filed. The same caution as for a request applies: only a head of comment
// lines can ask, so a program whose body mentions CMP= is filed like any other, and the name
// must be a library name standing alone in its comment ("(CMP=O1234 REV B)" is a title).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::serve {

struct CompareRequest {
    std::string name;
    size_t line = 0; // the 1-based line of the text that holds it, not itself compared
};

// "(CMP=NAME)" (keyword in any case, blanks allowed around "=") on one of the first
// `scanLines` non-empty lines, every non-empty line up to and including it holding only
// comments (optionally after a program number), a leading "%" of a line set aside.
std::optional<CompareRequest> findCompareRequest(std::string_view text, int scanLines);

// "%", "(SAME AS NAME)", "%" and "%", "(DIFFERS FROM NAME AT LINE n)", "%".
std::string sameReply(std::string_view name);
std::string differsReply(std::string_view name, size_t line);

} // namespace corvane::serve
