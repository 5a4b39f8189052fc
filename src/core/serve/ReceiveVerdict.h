#pragma once
// What a received text is, judged before it is filed: a request is only what is short and
// holds nothing but comments, so a real program that names itself "(PRG=...)" in its head is
// never taken for a question and thrown away; and a receive that ended by the machine's
// silence is a whole program only when its end was punched, so a machine that stops mid-way
// never files a partial program under the real program's name.

#include <string_view>

namespace corvane::serve {

// A request is at most this many bytes and this many non-empty lines (a bare "%" line not
// counted), each line holding only comments, optionally after a program number.
constexpr size_t MaxRequestBytes = 256;
constexpr int MaxRequestLines = 4;

bool isRequestShaped(std::string_view text);

// A line that holds only comments, optionally after a program number "O123".
bool onlyComments(std::string_view line);

// The text's last character, once trailing blanks, line ends, NUL and DC codes are set aside,
// is a "%" that closes something (not a lone leading "%").
bool endsAsProgram(std::string_view tail);

// Nothing but leader, line ends, flow codes and "%" marks: what a receive holds that the
// machine ended before any program came (a line feed after a closing "%", a lone DC4).
bool holdsNoProgram(std::string_view text);

} // namespace corvane::serve
