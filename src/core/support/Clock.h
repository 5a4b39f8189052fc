#pragma once
// A monotonic microsecond clock. Engines never call it directly: time reaches them through
// their host, so tests can run on a clock they move themselves.

#include <cstdint>

namespace corvane {

uint64_t WexGetTickCount64(); // monotonic, microseconds
inline int64_t WexTickDiff64(uint64_t now, uint64_t start) {
    return static_cast<int64_t>(now - start);
}

} // namespace corvane
