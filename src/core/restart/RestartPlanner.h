#pragma once
// Turns "restart this program at WHERE" into a program: the program's own start, a comment
// naming the restart, a header that puts the machine back in the state the full run would
// have had at that block, then the rest of the program exactly as written. Or a refusal, with
// the reason and the nearest earlier places where a restart is allowed.
//
// The program is read as a stream, twice at most (plan, then write), so a program of any
// length needs no more memory than its longest line.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "restart/RestartPlace.h"

namespace corvane {

struct RestartPlan {
    bool allowed = false;
    std::string refusal; // why not, naming the block and the earlier places that are allowed
    long line = 0;       // the file line the rest of the program is taken from
    bool atToolChange = false;
    uint64_t startLength = 0; // bytes of the program's start ('%' and the program number)
    uint64_t tailOffset = 0;  // where the rest of the program begins in the file
    std::string comment;      // "(RESTART AT T2 LINE 14)"
    std::vector<std::string> header;
    std::string lineEnd = "\n"; // as the program's first line ends
};

// Reads `program` from its beginning. A read error is a refusal.
RestartPlan PlanRestart(std::FILE* program, const RestartPlace& place);

// Writes the restarted program for an allowed plan. False on a read or write error.
bool WriteRestartProgram(std::FILE* program, const RestartPlan& plan, std::FILE* out);

// One tool change of a program, as a list to choose a restart from shows it.
struct ToolChange {
    long tool = 0;
    long occurrence = 1; // the k of T<n>:<k>
    long line = 0;       // of the T block
    std::string comment; // on the T block's line, else on the line before it; may be empty
};

// Every tool change in `program` (a block with T and M06, or a T block followed by an M06
// block), in order. Read as a stream from the beginning.
std::vector<ToolChange> ListToolChanges(std::FILE* program);

// A coordinate as the header writes it: always with a decimal point (a control without
// decimal-point input would read "10" as 10 micrometres), at most four decimals.
std::string FormatCoordinate(double value);

} // namespace corvane
