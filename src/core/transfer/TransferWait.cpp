#include "transfer/TransferWait.h"

#include <algorithm>

#include "transfer/TransferContext.h"

namespace corvane {

namespace {
constexpr uint64_t sliceMicros = 20000;
}

bool PauseMillis(TransferContext& ctx, uint32_t millis, bool stopOnInterrupt) {
    const uint64_t start = ctx.host.nowMicros();
    const uint64_t length = static_cast<uint64_t>(millis) * 1000;
    for (;;) {
        if (stopOnInterrupt && ctx.state.InterruptRequest != 0)
            return false;
        const uint64_t passed = ctx.host.nowMicros() - start;
        if (passed >= length)
            return true;
        ctx.host.idle(std::min(length - passed, sliceMicros));
    }
}

} // namespace corvane
