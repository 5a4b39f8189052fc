#include "serve/ProgramScan.h"

#include <cctype>
#include <vector>

namespace corvane::serve {
namespace {

constexpr size_t MaxProgramDigits = 8;
constexpr size_t MaxLibraryName = 64;
constexpr size_t MaxCommentName = 32;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// The first `count` lines that hold anything once a leading "%" and blanks are set aside,
// without their line ends. A program usually opens with a line of "%" alone, which must not
// use up one of the lines the operator's number or request may stand on.
std::vector<std::string_view> headLines(std::string_view text, int count) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size() && static_cast<int>(lines.size()) < count) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (!line.empty() && line.front() == '%')
            line.remove_prefix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

bool startsWithKeyword(std::string_view text, std::string_view keyword) {
    if (text.size() < keyword.size())
        return false;
    for (size_t i = 0; i < keyword.size(); ++i)
        if (upper(text[i]) != keyword[i])
            return false;
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// "REQ=NAME" / "PRG = NAME" inside one comment's text.
std::optional<std::string> requestIn(std::string_view comment) {
    comment = trimmed(comment);
    for (std::string_view keyword : {"REQ", "PRG"}) {
        if (!startsWithKeyword(comment, keyword))
            continue;
        std::string_view rest = trimmed(comment.substr(keyword.size()));
        if (rest.empty() || rest.front() != '=')
            continue;
        return std::string(trimmed(rest.substr(1)));
    }
    return std::nullopt;
}

} // namespace

std::string programNumber(std::string_view text, int scanLines) {
    for (std::string_view line : headLines(text, scanLines)) {
        if (line.front() != 'O')
            continue;
        size_t digits = 0;
        while (1 + digits < line.size() && isDigit(line[1 + digits]))
            ++digits;
        if (digits >= 1 && digits <= MaxProgramDigits)
            return std::string(line.substr(0, 1 + digits));
    }
    return {};
}

std::optional<RemoteRequest> findRequest(std::string_view text, int scanLines) {
    for (std::string_view line : headLines(text, scanLines)) {
        // A comment ends at ')', at the line's end when it is left open, or where the next one
        // opens: "(NOTE (REQ=A1)" asks for A1, not for "A1" with the note's rest around it.
        size_t open = line.find('(');
        while (open != std::string_view::npos) {
            const size_t end = line.find_first_of("()", open + 1);
            const std::string_view comment = line.substr(
                open + 1, end == std::string_view::npos ? std::string_view::npos : end - open - 1);
            if (auto name = requestIn(comment)) {
                // A library name holds no blank, so a blank ends it.
                const size_t blank = name->find_first_of(" \t");
                if (blank == std::string::npos)
                    return RemoteRequest{*name, {}};
                return RemoteRequest{name->substr(0, blank),
                                     std::string(trimmed(std::string_view(*name).substr(blank)))};
            }
            if (end == std::string_view::npos)
                break;
            open = line[end] == '(' ? end : line.find('(', end + 1);
        }
    }
    return std::nullopt;
}

bool isLibraryName(std::string_view name) {
    if (name.empty() || name.size() > MaxLibraryName || name == "." ||
        name.find("..") != std::string_view::npos)
        return false;
    for (char c : name) {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) ||
                             c == '_' || c == '.' || c == '-';
        if (!allowed)
            return false;
    }
    return true;
}

std::string commentSafe(std::string_view name) {
    std::string out;
    for (char c : name.substr(0, MaxCommentName)) {
        const auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u >= 0x7F || c == '(' || c == ')' || c == '%') ? '?' : c;
    }
    return out;
}

bool isDirectoryListRequest(std::string_view name) {
    return name.size() == 7 && startsWithKeyword(name, "DIRLIST");
}

} // namespace corvane::serve
