#pragma once
// Command-line tokens: one blank-separated argument at a time, double quotes grouping blanks.
// The quotes stay on the token; the start-up reading takes them off where it needs a path.

#include <string>

namespace corvane {

// Size of the token buffer the start-up reading uses: 518 characters and the terminator.
constexpr int ArgumentTokenSize = 519;

// Reads the next argument at `cursor` into `token` (at most size - 1 characters, always
// terminated) and moves the cursor past it. Returns the argument's length, above 0 while an
// argument came and 0 at the end of the text. A result of `size` means the argument did not
// fit: `token` then holds only its beginning and must not be used.
int WexNextArgument(const char*& cursor, char* token, int size);

// Whether a token is a switch: it starts with '-' or '/'. Where paths are rooted at '/'
// (`slashRootedPaths`), a token such as "/home/ann/a.nc" is a path, not a switch: a '/' token
// is taken as a path when another '/' follows before any '='; "/EXIT", "/Kshop" and
// "/CFG=/etc/a.cfg" stay switches.
bool IsSwitchArgument(const char* token, bool slashRootedPaths);

// Joins arguments that a shell has already split (argv of main, without argv[0]) into one
// command-line text that WexNextArgument splits back into the same arguments. An argument
// with blanks gets double quotes around its value (after "CFG=", "MDF=", "NOTIFY=" or "K" for
// a switch, so the switch stays recognisable). Quotes already in an argument are kept when
// they group its blanks; an unpaired one is closed so that it cannot swallow the arguments
// after it. Empty arguments name nothing and are left out.
std::string JoinArguments(int argc, const char* const* argv);

} // namespace corvane
