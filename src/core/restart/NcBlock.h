#pragma once
// One line of an ISO (Fanuc-style) part program, read into its words. Comments in parentheses
// and after ';' are dropped; what the restart cannot reason about (macro variables,
// expressions, GOTO/WHILE/IF) is flagged rather than guessed at.

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct NcWord {
    char letter = 0;  // upper case
    double value = 0; // the number as written
    std::string text; // the number's characters, e.g. "54.1", "-12.5"
};

struct NcBlock {
    std::vector<NcWord> words;
    bool blockDelete = false; // begins with '/'
    bool percent = false;     // a '%' tape mark line
    std::string macro;        // the first macro construct met ("#", "[", "GOTO", ...), if any

    bool empty() const { return words.empty() && macro.empty() && !percent; }
    // The first word with this letter, or nullptr.
    const NcWord* find(char letter) const;
    // Whether a G (or M) code with this text is in the block ("0", "54.1", "6").
    bool hasG(std::string_view code) const;
    bool hasM(std::string_view code) const;
    bool has(char letter) const { return find(letter) != nullptr; }
};

// Reads one line (without its line end).
NcBlock ParseNcBlock(std::string_view line);

// The code of a G or M word without leading zeros: "G00" -> "0", "G54.1" -> "54.1",
// "M06" -> "6".
std::string NormalCode(const std::string& text);

} // namespace corvane
