#pragma once
// Where an operator asks a program to restart: "T<n>" (the first change to tool n), "T<n>:<k>"
// (the k-th), "N<n>" (the block with that sequence number) or "L<n>" (line n of the file).

#include <string>

namespace corvane {

struct RestartPlace {
    enum class Kind { Tool, Block, Line };
    Kind kind = Kind::Line;
    long number = 0;     // tool, sequence number or line
    long occurrence = 1; // T<n>:<k>
    std::string text;    // as the operator wrote it, upper case
};

// False for anything else (and for a line, tool or occurrence below 1).
bool ParseRestartPlace(const std::string& text, RestartPlace& place);

} // namespace corvane
