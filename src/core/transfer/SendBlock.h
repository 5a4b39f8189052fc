#pragma once
// One line of an NC file reworked into the block that goes on the wire: comments, `%`,
// word separation, skip rules, blank lines, block number and the TV-check space.
// Pure: no port, no host, so every rule can be tested (and fuzzed) on its own.

#include <cstddef>

#include "settings/MachineDef.h"

namespace corvane {

constexpr size_t SendLineSize = 512;   // one read: at most 511 characters
constexpr size_t SendBlockSize = 1024; // the reworked block, TV space and line feed included
constexpr size_t SendPrefixSize = 32;  // "N<number> "

struct SendBlock {
    char prefix[SendPrefixSize] = {};
    int prefixLength = 0;
    // The block with its leading spaces, the TV-check space (if due) and the closing line feed.
    char text[SendBlockSize] = {};
    int length = 0;
};

// The first block number of a send: NnoBase when numbering is on, else 0 (off).
int FirstBlockNumber(const MachineConfig& config);

// Builds the block for one piece of a line (its line feed already removed). `blockNumber` is
// the running block number counter of the send; it is raised when this block takes a number.
// Returns false when the line is dropped (comment only, blank, or skipped); `out` then holds
// nothing useful and the counter is untouched.
bool BuildBlock(const char* line, size_t length, const MachineConfig& config, int& blockNumber,
                SendBlock& out);

} // namespace corvane
