// What the service reads out of a program a machine punched: the program number, a request
// comment, and whether the name asked for may touch the library. The first byte is the number
// of lines scanned, the rest the program. Checked against rules written out here on their own:
// a number is an "O" and 1 to 8 digits taken from the text; a request name has no comment
// brackets, line ends or blanks around it; reading more lines never changes what fewer found;
// a library name holds only [A-Za-z0-9_.-] and no ".."; a name made comment-safe is printable
// ASCII without brackets or "%" and at most 32 characters.

#include <cctype>

#include "FuzzSupport.h"
#include "serve/ProgramScan.h"

using namespace corvane;
using namespace corvane::fuzz;
using namespace corvane::serve;

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool libraryNameByRule(std::string_view name) {
    if (name.empty() || name.size() > 64 || name == "." || name == ".." ||
        name.find("..") != std::string_view::npos)
        return false;
    for (const char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.' && c != '-')
            return false;
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

bool dirlistByRule(std::string_view name) {
    static constexpr std::string_view word = "DIRLIST";
    if (name.size() != word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (name[i] != word[i] && name[i] != word[i] + ('a' - 'A'))
            return false;
    return true;
}

void checkName(std::string_view name) {
    FUZZ_CHECK(isLibraryName(name) == libraryNameByRule(name));
    FUZZ_CHECK(isDirectoryListRequest(name) == dirlistByRule(name));
    const std::string safe = commentSafe(name);
    FUZZ_CHECK(safe.size() == std::min<size_t>(name.size(), 32));
    for (const char c : safe) {
        const auto u = static_cast<unsigned char>(c);
        FUZZ_CHECK(u >= 0x20 && u < 0x7F && c != '(' && c != ')' && c != '%');
    }
    if (isLibraryName(name))
        FUZZ_CHECK(safe == name.substr(0, 32));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int scanLines = in.below(12);
    const std::string_view text = in.rest();

    const std::string number = programNumber(text, scanLines);
    if (!number.empty()) {
        FUZZ_CHECK(number[0] == 'O' && number.size() >= 2 && number.size() <= 9);
        for (size_t i = 1; i < number.size(); ++i)
            FUZZ_CHECK(number[i] >= '0' && number[i] <= '9');
        FUZZ_CHECK(text.find(number) != std::string_view::npos);
        FUZZ_CHECK(programNumber(text, scanLines + 1) == number);
    }
    if (scanLines == 0)
        FUZZ_CHECK(number.empty());

    const auto request = findRequest(text, scanLines);
    if (request) {
        const std::string& name = request->name;
        FUZZ_CHECK(name.find_first_of("()\n") == std::string::npos);
        FUZZ_CHECK(name.empty() || (!isBlank(name.front()) && !isBlank(name.back())));
        FUZZ_CHECK(text.find(name) != std::string_view::npos);
        const auto more = findRequest(text, scanLines + 1);
        FUZZ_CHECK(more && more->name == name);
        checkName(name);
    }
    if (scanLines == 0)
        FUZZ_CHECK(!request);
    // Names from the broker reach the same checks without a comment around them.
    checkName(text.substr(0, 80));
    return 0;
}
