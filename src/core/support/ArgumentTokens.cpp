#include "support/ArgumentTokens.h"

#include <cctype>
#include <cstring>

namespace corvane {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool startsWithNoCase(const std::string& text, size_t at, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < at + n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(text[at + i])) != prefix[i])
            return false;
    return true;
}

// Where the value of a switch begins, so that quotes go around the value and the token still
// starts with '/' or '-'.
size_t valueStart(const std::string& arg) {
    if (!IsSwitchArgument(arg.c_str(), true))
        return 0;
    for (const char* prefix : {"CFG=", "MDF=", "NOTIFY="})
        if (startsWithNoCase(arg, 1, prefix))
            return 1 + std::strlen(prefix);
    if (startsWithNoCase(arg, 1, "K"))
        return 2;
    return 1;
}

} // namespace

bool IsSwitchArgument(const char* token, bool slashRootedPaths) {
    if (token[0] == '-')
        return true;
    if (token[0] != '/')
        return false;
    if (slashRootedPaths)
        for (const char* p = token + 1; *p != '\0' && *p != '='; ++p)
            if (*p == '/')
                return false;
    return true;
}

int WexNextArgument(const char*& cursor, char* token, int size) {
    if (size > 0)
        token[0] = '\0';
    if (cursor == nullptr || size <= 0)
        return 0;

    const char* p = cursor;
    while (isBlank(*p))
        ++p;

    int length = 0;
    bool quoted = false;
    for (; *p != '\0' && (quoted || !isBlank(*p)); ++p) {
        if (*p == '"')
            quoted = !quoted;
        if (length < size - 1)
            token[length] = *p;
        // Saturate at `size`: the caller only needs to know that it did not fit.
        if (length < size)
            ++length;
    }
    token[length < size ? length : size - 1] = '\0';
    cursor = p;
    return length;
}

std::string JoinArguments(int argc, const char* const* argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (argv[i] == nullptr || argv[i][0] == '\0')
            continue;
        std::string arg = argv[i];

        bool quoted = false;
        bool blankOutside = false;
        for (char c : arg) {
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && isBlank(c))
                blankOutside = true;
        }

        if (blankOutside) {
            // Quotes inside such an argument cannot be told apart from grouping marks; the
            // value is re-grouped as a whole instead.
            std::string bare;
            for (char c : arg)
                if (c != '"')
                    bare += c;
            const size_t at = valueStart(bare);
            arg = bare.substr(0, at) + '"' + bare.substr(at) + '"';
        } else if (quoted) {
            arg += '"';
        }

        if (!line.empty())
            line += ' ';
        line += arg;
    }
    return line;
}

} // namespace corvane
