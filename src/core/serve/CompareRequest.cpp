#include "serve/CompareRequest.h"

#include <cctype>

#include "serve/ProgramScan.h"
#include "serve/ReceiveVerdict.h"
#include "support/LineBlanks.h"

namespace corvane::serve {
namespace {

// "CMP=NAME" as the whole of one comment's text.
std::optional<std::string> compareIn(std::string_view comment) {
    comment = trimLineBlanks(comment);
    if (comment.size() < 3)
        return std::nullopt;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(comment[i])) != "CMP"[i])
            return std::nullopt;
    std::string_view rest = trimLineBlanks(comment.substr(3));
    if (rest.empty() || rest.front() != '=')
        return std::nullopt;
    const std::string_view name = trimLineBlanks(rest.substr(1));
    if (!isLibraryName(name))
        return std::nullopt;
    return std::string(name);
}

} // namespace

std::optional<CompareRequest> findCompareRequest(std::string_view text, int scanLines) {
    int seen = 0;
    size_t number = 0;
    size_t start = 0;
    while (start < text.size() && seen < scanLines) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = trimLineBlanks(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (!line.empty() && line.front() == '%')
            line = trimLineBlanks(line.substr(1));
        if (line.empty())
            continue;
        ++seen;
        // The program's body has begun: what follows is the program, not a question.
        if (!onlyComments(line))
            return std::nullopt;
        for (size_t open = line.find('('); open != std::string_view::npos;
             open = line.find('(', open + 1)) {
            const size_t close = line.find(')', open + 1);
            if (close == std::string_view::npos)
                break;
            if (auto name = compareIn(line.substr(open + 1, close - open - 1)))
                return CompareRequest{*name, number};
            open = close;
        }
    }
    return std::nullopt;
}

std::string sameReply(std::string_view name) {
    return "%\n(SAME AS " + commentSafe(name) + ")\n%\n";
}

std::string differsReply(std::string_view name, size_t line) {
    return "%\n(DIFFERS FROM " + commentSafe(name) + " AT LINE " + std::to_string(line) + ")\n%\n";
}

} // namespace corvane::serve
