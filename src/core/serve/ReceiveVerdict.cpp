#include "serve/ReceiveVerdict.h"

namespace corvane::serve {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0' || (c >= 0x11 && c <= 0x14);
}

} // namespace

bool onlyComments(std::string_view line) {
    size_t i = 0;
    if (!line.empty() && line.front() == 'O') {
        i = 1;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9')
            ++i;
    }
    while (i < line.size()) {
        if (isBlank(line[i])) {
            ++i;
            continue;
        }
        if (line[i] != '(')
            return false;
        const size_t close = line.find(')', i + 1);
        if (close == std::string_view::npos)
            return false;
        i = close + 1;
    }
    return true;
}

bool isRequestShaped(std::string_view text) {
    if (text.size() > MaxRequestBytes)
        return false;
    int lines = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && isBlank(line.front()))
            line.remove_prefix(1);
        while (!line.empty() && isBlank(line.back()))
            line.remove_suffix(1);
        if (!line.empty() && line.front() == '%')
            line.remove_prefix(1);
        while (!line.empty() && isBlank(line.front()))
            line.remove_prefix(1);
        if (line.empty())
            continue;
        if (++lines > MaxRequestLines || !onlyComments(line))
            return false;
    }
    return lines > 0;
}

bool endsAsProgram(std::string_view tail) {
    while (!tail.empty() && isBlank(tail.back()))
        tail.remove_suffix(1);
    if (tail.empty() || tail.back() != '%')
        return false;
    tail.remove_suffix(1);
    for (char c : tail)
        if (!isBlank(c) && c != '%')
            return true;
    return false;
}

bool holdsNoProgram(std::string_view text) {
    for (char c : text)
        if (!isBlank(c) && c != '%' && c != 0x7F)
            return false;
    return true;
}

} // namespace corvane::serve
