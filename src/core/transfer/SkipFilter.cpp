#include "transfer/SkipFilter.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace corvane {

namespace {

constexpr size_t ItemSize = 512;
constexpr double MatchTolerance = 0.001;

bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isTrimmed(char c) {
    return c == ' ' || c == '\t';
}
// What may follow a letter for it to be an address: a number has to start here.
bool startsNumber(char c) {
    return isDigit(c) || c == '+' || c == '-' || c == '.';
}

// Reads a decimal number the way the C library reads one (sign, digits, point, digits,
// exponent when digits follow it) and nothing else. strtod itself would also take "0X10"
// as hexadecimal 16 (so 'G0X10.' became one G word), "-INF" and "+NAN", and it reads the
// decimal point of the process locale, which a window toolkit sets from the environment.
// Returns the characters taken (0 when no number) and the value in `value`.
size_t readNumber(const char* text, double& value) {
    value = 0.0;
    size_t i = 0;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-')
        negative = text[i++] == '-';
    const size_t mantissaAt = i;

    size_t digits = 0;
    long long magnitude = 0; // decimal position of the first significant digit, for overflow
    bool significant = false;
    size_t leadingFractionZeros = 0;
    while (isDigit(text[i])) {
        if (text[i] != '0' || significant) {
            significant = true;
            ++magnitude;
        }
        ++digits;
        ++i;
    }
    if (text[i] == '.') {
        ++i;
        while (isDigit(text[i])) {
            if (!significant) {
                if (text[i] == '0')
                    ++leadingFractionZeros;
                else
                    significant = true;
            }
            ++digits;
            ++i;
        }
    }
    if (digits == 0)
        return 0; // "+", "-", "." and "-." are no number
    const size_t mantissaEnd = i;

    long long exponent = 0;
    if (text[i] == 'e' || text[i] == 'E') {
        size_t j = i + 1;
        bool negativeExponent = false;
        if (text[j] == '+' || text[j] == '-')
            negativeExponent = text[j++] == '-';
        if (isDigit(text[j])) {
            while (isDigit(text[j])) {
                if (exponent < 100000)
                    exponent = exponent * 10 + (text[j] - '0');
                ++j;
            }
            if (negativeExponent)
                exponent = -exponent;
            i = j;
        }
    }

    const auto result = std::from_chars(text + mantissaAt, text + i, value);
    if (result.ec == std::errc::result_out_of_range) {
        // Far outside a double: infinity above, zero below, as strtod gives.
        if (magnitude == 0)
            magnitude = -static_cast<long long>(leadingFractionZeros);
        value = (magnitude + exponent > 0) ? HUGE_VAL : 0.0;
    } else if (result.ec != std::errc() || result.ptr != text + i) {
        // Cannot happen for the text checked above; read the mantissa alone to stay safe.
        value = 0.0;
        std::from_chars(text + mantissaAt, text + mantissaEnd, value);
    }
    if (negative)
        value = -value;
    return i;
}

bool matches(double wordValue, double itemValue, bool any) {
    return any || std::fabs(wordValue - itemValue) < MatchTolerance;
}

// The first match of one item in the block: position and length, or -1.
int findItem(const char* block, const char* item, int* length) {
    char letter = 0;
    double value = 0.0;
    bool any = false;
    if (ParseAddressWord(item, &letter, &value, &any, true) > 0)
        return FindAddressWord(block, letter, value, any, length);
    const char* at = std::strstr(block, item);
    if (at == nullptr)
        return -1;
    *length = static_cast<int>(std::strlen(item));
    return static_cast<int>(at - block);
}

} // namespace

int GetListItem(const char* rule, char separator, int index, char* out, size_t outSize) {
    if (outSize > 0)
        out[0] = '\0';
    if (rule == nullptr || index < 0 || outSize == 0)
        return 0;

    const char* start = rule;
    for (int i = 0; i < index; ++i) {
        start = std::strchr(start, separator);
        if (start == nullptr)
            return 0;
        ++start;
    }
    const char* end = std::strchr(start, separator);
    if (end == nullptr)
        end = start + std::strlen(start);

    while (start < end && isTrimmed(*start))
        ++start;
    while (end > start && isTrimmed(end[-1]))
        --end;
    size_t n = static_cast<size_t>(end - start);
    if (n == 0)
        return 0;
    if (n > outSize - 1)
        n = outSize - 1;
    std::memcpy(out, start, n);
    out[n] = '\0';
    return 1;
}

int ParseAddressWord(const char* text, char* letter, double* value, bool* any, bool wildcard) {
    *letter = 0;
    *value = 0.0;
    *any = false;
    if (!isUpper(text[0]))
        return 0;
    if (wildcard && text[1] == '*' && text[2] == '\0') {
        *letter = text[0];
        *any = true;
        return 2;
    }
    if (!startsNumber(text[1]))
        return 0;
    *letter = text[0];
    // 'X-' and 'X.' are words of the letter alone, with the value 0.
    return 1 + static_cast<int>(readNumber(text + 1, *value));
}

int FindAddressWord(const char* block, char letter, double value, bool any, int* length) {
    for (const char* p = std::strchr(block, letter); p != nullptr && letter != '\0';
         p = std::strchr(p + 1, letter)) {
        char wordLetter = 0;
        double wordValue = 0.0;
        bool wordAny = false;
        const int n = ParseAddressWord(p, &wordLetter, &wordValue, &wordAny, false);
        if (n > 0 && matches(wordValue, value, any)) {
            *length = n;
            return static_cast<int>(p - block);
        }
    }
    return -1;
}

int ApplySkipRules(char* block, const char* skipLine, const char* skipCode) {
    int n = static_cast<int>(std::strlen(block));
    char item[ItemSize];
    int length = 0;

    if (skipLine != nullptr)
        for (int i = 0; n > 0 && GetListItem(skipLine, ',', i, item, sizeof item); ++i)
            if (findItem(block, item, &length) >= 0)
                n = 0;

    if (skipCode != nullptr)
        for (int i = 0; n > 0 && GetListItem(skipCode, ',', i, item, sizeof item); ++i)
            // Leftmost first, again after every cut: a cut may join two pieces into a match.
            while (n > 0) {
                const int at = findItem(block, item, &length);
                if (at < 0)
                    break;
                std::memmove(block + at, block + at + length,
                             static_cast<size_t>(n - at - length) + 1);
                n -= length;
            }

    block[n] = '\0';
    return n;
}

} // namespace corvane
