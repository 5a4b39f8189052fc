// ApplySkipRules on any block with any pair of rules, in buffers of their exact size: the
// result is the block's new length, what is left is the block with characters taken out (never
// added or changed), no rules leave it alone, and a single skip-function item leaves no match
// of itself behind.

#include <cstring>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "transfer/SkipFilter.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

std::unique_ptr<char[]> exactCopy(const std::string& text) {
    auto out = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(out.get(), text.c_str(), text.size() + 1);
    return out;
}

// Whether `part` can be made from `whole` by taking characters out.
bool isSubsequence(const char* part, const char* whole) {
    for (; *part != '\0'; ++whole) {
        if (*whole == '\0')
            return false;
        if (*whole == *part)
            ++part;
    }
    return true;
}

bool firstItemOnly(const char* rule, char* item, size_t size) {
    char second[512];
    return GetListItem(rule, ',', 0, item, size) != 0 &&
           GetListItem(rule, ',', 1, second, sizeof second) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t flags = in.byte();
    // The settings hold rules of up to 255 characters; NULs would only end them early.
    const std::string skipLine(in.until('\0').substr(0, 255));
    const std::string skipCode(in.until('\0').substr(0, 255));
    const std::string blockText(in.until('\0').substr(0, 2048));

    auto lineRule = exactCopy(skipLine);
    auto codeRule = exactCopy(skipCode);
    auto block = exactCopy(blockText);
    const char* line = (flags & 1) ? nullptr : lineRule.get();
    const char* code = (flags & 2) ? nullptr : codeRule.get();

    const int n = ApplySkipRules(block.get(), line, code);
    FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) <= blockText.size());
    FUZZ_CHECK(std::strlen(block.get()) == static_cast<size_t>(n));
    FUZZ_CHECK(isSubsequence(block.get(), blockText.c_str()));
    // The rules themselves are only read.
    FUZZ_CHECK(skipLine == lineRule.get() && skipCode == codeRule.get());

    char item[512];
    const bool lineEmpty = line == nullptr || GetListItem(line, ',', 0, item, sizeof item) == 0;
    const bool codeEmpty = code == nullptr || GetListItem(code, ',', 0, item, sizeof item) == 0;
    if (lineEmpty && codeEmpty)
        FUZZ_CHECK(block.get() == blockText);

    if (lineEmpty && code != nullptr && firstItemOnly(code, item, sizeof item)) {
        char letter = 0;
        double value = 0.0;
        bool any = false;
        int length = 0;
        if (ParseAddressWord(item, &letter, &value, &any, true) > 0)
            FUZZ_CHECK(FindAddressWord(block.get(), letter, value, any, &length) < 0);
        else
            FUZZ_CHECK(std::strstr(block.get(), item) == nullptr);
    }
    return 0;
}
