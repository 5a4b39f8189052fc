#pragma once
// Where the running instance and the callers it notifies keep their local sockets. One folder
// per user, readable by that user alone: two people on one machine must never reach each
// other's instance, and nobody else may plant a socket that a second start would talk to.

#include <cstdint>
#include <string>

namespace corvane {

// File name of the running instance's socket inside the folder (named after the frame class).
constexpr const char* LinkServerName = "CVN_FrameClass";

// The user the folder belongs to (the real user id; 0 where there is none).
uint32_t CurrentUserId();

// "$XDG_RUNTIME_DIR/corvane" when that variable holds an absolute path; otherwise
// "corvane-<uid>" in `tempFolder` ("/tmp" when it is empty or not absolute). Null or empty
// values count as unset.
std::string LinkFolderPath(const char* runtimeDir, const std::string& tempFolder, uint32_t uid);

// The socket the running instance listens on.
std::string LinkServerPath(const std::string& folder);
// The socket a caller named by "NOTIFY=<id>" listens on: corvane-notify-<8 lower-case hex>.
std::string NotifySocketPath(const std::string& folder, uint32_t id);
// Whether `path` fits a local socket address (sun_path, with its terminator).
bool FitsSocketAddress(const std::string& path);

// Creates `folder` with mode 0700 when it is missing, then checks what is there: a real
// folder (not a link), owned by `uid`, with no access for group or others. 1 when it may be
// used; 0 with the reason in `error` otherwise (nothing is changed then).
int PrepareLinkFolder(const std::string& folder, uint32_t uid, std::string* error);

} // namespace corvane
