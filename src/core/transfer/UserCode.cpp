#include "transfer/UserCode.h"

#include <cstring>

#include "support/HexDigit.h"
#include "transfer/TapeCode.h"
#include "transfer/TransferWait.h"

namespace corvane {

namespace {

constexpr size_t maxCodeLength = 255;
constexpr uint32_t pauseAfterByteMillis = 100;

// The byte of the pair at `pair`, or -1 when the pair does not start with a hex digit.
// A second character that is no hex digit ends the number early ("1G" is 0x01).
int pairValue(const char* pair) {
    const int high = HexDigitValue(pair[0]);
    if (high < 0)
        return -1;
    const int low = HexDigitValue(pair[1]);
    return low < 0 ? high : high * 16 + low;
}

} // namespace

int UserCodeByteCount(const char* code) {
    if (code == nullptr)
        return 0;
    const size_t pairs = strnlen(code, maxCodeLength) / 2;
    int count = 0;
    for (size_t i = 0; i < pairs; ++i)
        if (pairValue(code + 2 * i) >= 0)
            ++count;
    return count;
}

int SendUserCode(TransferContext& ctx, int handle, const char* code) {
    if (code == nullptr)
        return 0;
    const size_t pairs = strnlen(code, maxCodeLength) / 2;
    for (size_t i = 0; i < pairs; ++i) {
        const int value = pairValue(code + 2 * i);
        if (value < 0)
            continue;
        const int result = SendTapeChar(ctx, handle, static_cast<uint8_t>(value), 0);
        if (result != 0)
            return result;
        // Controls that take a user code as a mode switch need time to act on each byte.
        PauseMillis(ctx, pauseAfterByteMillis);
    }
    return 0;
}

} // namespace corvane
