#pragma once
// A receive into a file that already holds a program replaces it. What it held is read first,
// so that once the new program is in, the log can say whether the control changed it, by how
// many lines and where: the same verdict a served line writes in its journal.

#include <optional>
#include <string>

#include "transfer/TransferHost.h"

namespace corvane {

struct TargetBefore {
    // The file's text before the receive; none when there was no plain file to compare with
    // (or one too long to be compared).
    std::optional<std::string> text;
};

TargetBefore readTargetBefore(const std::string& path);

// The log line for the program now in `path`, in the host's language: a new file, identical
// to the one it replaced, or different in N lines from line n on. Empty when the received
// file cannot be read.
std::string targetVerdict(TransferHost& host, const TargetBefore& before, const std::string& path);

} // namespace corvane
