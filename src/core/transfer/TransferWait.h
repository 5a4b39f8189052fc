#pragma once
// The fixed pauses of a transfer (after opening the port, after a user-code byte, between
// tries of the stop code). The window stays alive through them: the wait blocks on the
// host's event queue in short slices instead of sleeping.

#include <cstdint>

namespace corvane {

struct TransferContext;

// Waits `millis` milliseconds on the host's clock. With `stopOnInterrupt` the wait ends as
// soon as an interrupt is requested. Returns false when it ended early for that reason.
bool PauseMillis(TransferContext& ctx, uint32_t millis, bool stopOnInterrupt = false);

} // namespace corvane
