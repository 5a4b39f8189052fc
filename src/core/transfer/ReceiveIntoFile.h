#pragma once
// A receive into a file the user named, which may already hold a program: the data arrives
// in NAME.part beside it and takes NAME's place only once the receive has ended well. An
// interrupted or broken receive leaves NAME as it was and keeps what did arrive in NAME.part;
// the log says which.

#include <string>

namespace corvane {

struct TransferContext;
struct ReceiveOutcome;

// The temporary file of a receive into `target`: beside the file a symbolic link names, so
// putting it in place replaces the program, not the link.
std::string ReceivePartPath(const std::string& target);

// Runs the receive engine into ReceivePartPath(target) and then puts the file in place or
// keeps it aside, as above. Returns the engine's result, or ReceiveTargetWriteFailed when
// the received file could not take the target's place.
int ReceiveNcFile(TransferContext& ctx, const char* target, ReceiveOutcome* outcome = nullptr);

} // namespace corvane
