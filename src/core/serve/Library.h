#pragma once
// The library folder the service answers requests from. A requested name is a name, never a
// path: it is checked before anything touches the file system, and only plain files directly
// inside the folder are ever opened.

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::serve {

enum class LookupResult { Found, NotFound, Refused };

struct LibraryLookup {
    LookupResult result = LookupResult::NotFound;
    std::string path;  // Found: the file to send
    std::string error; // Refused for a program that is there but cannot be read: why
};

// `name` as the file name itself, then `name.ext`, then for bare digits `O<digits>.ext`.
// A name that is not a library name (see isLibraryName) is refused without a look.
LibraryLookup lookupProgram(const std::string& library, std::string_view name,
                            const std::string& ext);

// The replies sent when a request cannot be answered with a program: comments only, so one
// that is ever run by mistake does nothing. "%", "(NOT FOUND NAME)", "%".
std::string notFoundReply(std::string_view name);
std::string refusedReply(std::string_view name);

// The answer to "(REQ=NAME WHERE)" when the program cannot be restarted there: a program of
// comments with the reason, so the operator at the control learns why.
std::string restartRefusedReply(std::string_view name, std::string_view where,
                                std::string_view reason);

// The library as a program of comments: one line per plain file, sorted by name, with its
// size and date ("(O0012.NC 1234 2026-12-09)"), with "(... N MORE)" when some were left out
// so that the whole program stays within `maxLines` lines.
constexpr int DirectoryListMaxLines = 200;
std::string directoryListing(const std::string& library, int maxLines = DirectoryListMaxLines);

} // namespace corvane::serve
