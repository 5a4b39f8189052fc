#pragma once
// Two versions of an NC program, line by line: whether they say the same, how many lines
// differ, where the first difference stands, and a unified diff a person (or `patch`) can
// read. Line ends never count (a received program has CR LF, a library file often LF alone),
// nor do blanks at the end of a line (a tape vertical check pads a block with one); what else
// may be set aside is the caller's choice, because controls differ in what they keep of a
// program: some drop comments, some drop the blanks between words.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct CompareOptions {
    // "(...)" parts of a line are not compared; a line of comments only counts as absent.
    bool ignoreComments = false;
    // Empty lines count as absent.
    bool ignoreBlankLines = false;
    // Blanks inside a line are not compared ("G00X0" equals "G00 X0").
    bool ignoreSpaces = false;
};

struct ProgramComparison {
    bool identical = true;
    // Lines changed, added or removed; a changed line counts once.
    size_t differingLines = 0;
    // The 1-based line of the newer text where the first difference stands (for lines missing
    // from it: the line that stands where they should be). 0 when identical.
    size_t firstDifference = 0;
    // "--- older\n+++ newer\n@@ ... @@\n..." with three lines of context; empty when identical.
    std::string unifiedDiff;
};

// `setAside`: 1-based lines of the newer text that never count as a difference, such as the
// comment that asked for the comparison.
ProgramComparison comparePrograms(std::string_view older, std::string_view newer,
                                  const CompareOptions& options, std::string_view olderLabel,
                                  std::string_view newerLabel,
                                  const std::vector<size_t>& setAside = {});

// "comments", "blank-lines" and "spaces", separated by commas or blanks, in any case; empty
// or "none" sets nothing aside. Empty on an unknown word, with the word in `error`.
std::optional<CompareOptions> parseCompareIgnore(std::string_view text, std::string* error);

} // namespace corvane
