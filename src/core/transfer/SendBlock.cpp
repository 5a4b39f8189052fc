#include "transfer/SendBlock.h"

#include <cstdio>
#include <cstring>

#include "transfer/SkipFilter.h"

namespace corvane {

namespace {

// Word separation looks at three kinds of character: address letters, the characters of a
// number, and everything else (lower case and spaces included, so hand-typed text is left be).
int wordClass(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return 1;
    if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')
        return 2;
    return 0;
}

// Stays clear of signed overflow: a counter run past the top turns negative and numbering
// ends, as a 32-bit counter on the wire side would.
int addWrapping(int a, int b) {
    return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b));
}

} // namespace

int FirstBlockNumber(const MachineConfig& config) {
    return config.NnoBase > 0 && config.NnoIncr > 0 ? config.NnoBase : 0;
}

bool BuildBlock(const char* line, size_t length, const MachineConfig& config, int& blockNumber,
                SendBlock& out) {
    out.prefix[0] = '\0';
    out.prefixLength = 0;
    out.length = 0;

    // Leave room for the word-break space, the character, the TV space, the line feed and
    // the terminator.
    constexpr int fillLimit = static_cast<int>(SendBlockSize) - 4;

    char* block = out.text;
    int n = 0;
    int depth = 0;
    bool hadComment = false;
    int previousClass = 0;
    for (size_t i = 0; i < length && n < fillLimit; ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        // A NUL is blank tape to a reader; it would also end the block text early for the
        // skip rules and cut off the rest of the line.
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
        if (config.WordBreak != 0) {
            const int cls = wordClass(c);
            if (cls == 1 && previousClass == 2)
                block[n++] = ' ';
            previousClass = cls;
        }
        block[n++] = static_cast<char>(c);
    }
    block[n] = '\0';

    if (hadComment && n == 0)
        return false;

    n = ApplySkipRules(block, config.SendSkipLine, config.SendSkipCode);
    if (n < 0)
        n = 0;
    block[n] = '\0';
    if (config.SendSpace == 0 && n == 0)
        return false;

    int first = 0;
    while (first < n && block[first] == ' ')
        ++first;
    if (config.SendSpace == 0 && first == n)
        return false;

    const char lead = first < n ? block[first] : '\0';
    if (blockNumber > 0 && lead >= 'A' && lead <= 'Z' && lead != 'O' && lead != 'L' &&
        lead != 'N') {
        const int written = std::snprintf(out.prefix, sizeof out.prefix, "N%d%s", blockNumber,
                                          config.WordBreak != 0 ? " " : "");
        out.prefixLength = written > 0 ? written : 0;
        blockNumber = addWrapping(blockNumber, config.NnoIncr);
    }

    // The count the control checks includes the end-of-block character, hence the space when
    // the characters before it already have the wanted parity.
    const int counted = n + out.prefixLength;
    if ((config.TVCheck == 1 && counted % 2 == 0) || (config.TVCheck == 2 && counted % 2 == 1))
        block[n++] = ' ';
    block[n++] = '\n';
    block[n] = '\0';
    out.length = n;
    return true;
}

} // namespace corvane
