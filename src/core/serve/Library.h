#pragma once
// The library folder the service answers requests from. A requested name is a name, never a
// path: it is checked before anything touches the file system, and only plain files directly
// inside the folder are ever opened. Hidden files (".name") are not the library's: the
// listing leaves them out and a request never finds them. A file is opened without following
// a link, and what is sent is read from that very opening, so no link or file put in its
// place between a check and an open is ever sent.

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::serve {

enum class LookupResult { Found, NotFound, Refused };

// A file descriptor closed with its owner.
class OpenedFile {
public:
    OpenedFile() = default;
    explicit OpenedFile(int fd) : m_fd(fd) {}
    ~OpenedFile();
    OpenedFile(OpenedFile&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    OpenedFile& operator=(OpenedFile&& other) noexcept;
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

struct LibraryLookup {
    LookupResult result = LookupResult::NotFound;
    std::string path;  // Found: the file to send
    OpenedFile file;   // Found: that file, open for reading
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
