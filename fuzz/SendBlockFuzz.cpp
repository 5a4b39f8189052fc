// Block building of the send engine on any program text with any settings. The text is cut
// into pieces as the engine reads it (CR LF read as LF, at most 511 characters a piece), and
// every block built must keep the program: with no skip rules, the block is the piece less
// what the settings take out (comments, '%'), with only spaces added (word separation, the
// TV-check space); skip rules only ever take characters out. A block ends in one line feed,
// has the parity the TV check asks for, and takes a number only when it is due.

#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "transfer/SendBlock.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

std::string withoutSpaces(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != ' ')
            out += c;
    return out;
}

bool isSubsequence(const std::string& part, const std::string& whole) {
    size_t i = 0;
    for (char c : whole)
        if (i < part.size() && part[i] == c)
            ++i;
    return i == part.size();
}

// What of the piece is to reach the wire before any skip rule: NULs never, comments and '%'
// as the settings say. `hadComment` tells whether a '(' was seen.
std::string keptCharacters(const char* piece, size_t length, const MachineConfig& config,
                           bool& hadComment) {
    std::string kept;
    int depth = 0;
    hadComment = false;
    for (size_t i = 0; i < length; ++i) {
        const char c = piece[i];
        if (c == '\0')
            continue;
        if (config.Comment == 0) {
            if (c == '(') {
                ++depth;
                hadComment = true;
                continue;
            }
            if (c == ')') {
                --depth;
                continue;
            }
            if (depth > 0)
                continue;
        }
        if (config.DeleteErCode != 0 && c == '%')
            continue;
        kept += c;
    }
    return kept;
}

bool ruleEmpty(const char* rule) {
    for (; *rule == ' ' || *rule == '\t'; ++rule) {
    }
    return *rule == '\0' || *rule == ',';
}

void checkPiece(const char* piece, size_t length, const MachineConfig& config, int& blockNumber) {
    const int before = blockNumber;
    SendBlock block;
    const bool sent = BuildBlock(piece, length, config, blockNumber, block);

    bool hadComment = false;
    const std::string kept = keptCharacters(piece, length, config, hadComment);
    if (!sent) {
        FUZZ_CHECK(blockNumber == before);
        // Blank lines go out when asked for; only a comment line is dropped then.
        if (config.SendSpace != 0)
            FUZZ_CHECK(hadComment && kept.empty());
        return;
    }

    FUZZ_CHECK(block.length >= 1 && static_cast<size_t>(block.length) < SendBlockSize);
    FUZZ_CHECK(std::strlen(block.text) == static_cast<size_t>(block.length));
    FUZZ_CHECK(block.text[block.length - 1] == '\n');
    FUZZ_CHECK(block.prefixLength >= 0 &&
               std::strlen(block.prefix) == static_cast<size_t>(block.prefixLength));
    const std::string body(block.text, static_cast<size_t>(block.length - 1));
    FUZZ_CHECK(body.find('\n') == std::string::npos);

    const int counted = block.length + block.prefixLength;
    if (config.TVCheck == 1)
        FUZZ_CHECK(counted % 2 == 0);
    if (config.TVCheck == 2)
        FUZZ_CHECK(counted % 2 == 1);

    if (block.prefixLength > 0) {
        FUZZ_CHECK(before > 0 && block.prefix[0] == 'N');
        FUZZ_CHECK(blockNumber == static_cast<int>(static_cast<unsigned>(before) +
                                                   static_cast<unsigned>(config.NnoIncr)));
        const size_t lead = body.find_first_not_of(' ');
        FUZZ_CHECK(lead != std::string::npos && body[lead] >= 'A' && body[lead] <= 'Z');
    } else {
        FUZZ_CHECK(blockNumber == before);
    }

    const bool noRules = ruleEmpty(config.SendSkipLine) && ruleEmpty(config.SendSkipCode);
    if (noRules) {
        FUZZ_CHECK(withoutSpaces(body) == withoutSpaces(kept));
        if (config.WordBreak == 0 && config.TVCheck != 1 && config.TVCheck != 2)
            FUZZ_CHECK(body == kept);
    } else {
        FUZZ_CHECK(isSubsequence(withoutSpaces(body), withoutSpaces(kept)));
    }
}

void copyRule(FuzzInput& in, char (&field)[256]) {
    const std::string text = in.text(255);
    std::memcpy(field, text.data(), text.size());
    field[text.size()] = '\0';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    MachineConfig config;
    const uint8_t flags = in.byte();
    config.Comment = flags & 1;
    config.DeleteErCode = (flags >> 1) & 1;
    config.WordBreak = (flags >> 2) & 1;
    config.SendSpace = (flags >> 3) & 1;
    config.TVCheck = (flags >> 4) & 3; // 3: a value outside the list, which checks nothing
    const bool wholeLines = (flags & 0x40) != 0;
    const bool wildNumbers = (flags & 0x80) != 0;
    if (wildNumbers) {
        config.NnoBase = static_cast<int32_t>(in.dword());
        config.NnoIncr = static_cast<int32_t>(in.dword());
    } else {
        config.NnoBase = in.byte();
        config.NnoIncr = in.byte() % 16;
    }
    copyRule(in, config.SendSkipLine);
    copyRule(in, config.SendSkipCode);
    const std::string_view program = in.rest();

    int blockNumber = FirstBlockNumber(config);
    FUZZ_CHECK(blockNumber == 0 || (config.NnoBase > 0 && config.NnoIncr > 0));

    // The pieces as the engine reads them from the file.
    char piece[SendLineSize];
    size_t length = 0;
    for (size_t i = 0; i < program.size();) {
        char c = program[i++];
        if (c == '\r' && i < program.size() && program[i] == '\n') {
            c = '\n';
            ++i;
        }
        piece[length++] = c;
        if (c == '\n' || length + 1 >= SendLineSize || i == program.size()) {
            if (piece[length - 1] == '\n')
                --length;
            piece[length] = '\0';
            checkPiece(piece, length, config, blockNumber);
            length = 0;
        }
    }

    // A caller that hands over a whole line, however long: the block buffer must hold.
    if (wholeLines && !program.empty()) {
        SendBlock block;
        int number = FirstBlockNumber(config);
        if (BuildBlock(program.data(), program.size(), config, number, block))
            FUZZ_CHECK(static_cast<size_t>(block.length) < SendBlockSize &&
                       block.text[block.length - 1] == '\n');
    }
    return 0;
}
