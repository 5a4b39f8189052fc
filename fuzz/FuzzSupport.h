#pragma once
// What every fuzz target shares: an invariant check that aborts (so libFuzzer and the replay
// both report it as a crash with the input that caused it), a reader that carves settings out
// of the front of an input, and one scratch file per process for the readers that want a path.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace corvane::fuzz {

// Takes bytes from the front of the input; past its end every read gives zeros, so a short
// input still makes a complete (all-default) set of choices.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t word() {
        const uint16_t low = byte();
        return static_cast<uint16_t>(low | (byte() << 8));
    }
    uint32_t dword() {
        const uint32_t low = word();
        return low | (static_cast<uint32_t>(word()) << 16);
    }
    // A value in 0..n-1.
    int below(int n) { return n <= 1 ? 0 : byte() % n; }
    bool flag() { return (byte() & 1) != 0; }
    // Up to `maxLength` bytes: the length byte first, then the text.
    std::string text(size_t maxLength) {
        size_t n = byte();
        if (n > maxLength)
            n = maxLength;
        if (n > remaining())
            n = remaining();
        std::string out(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return out;
    }
    // The bytes up to the next `separator` (taken off) or to the end.
    std::string_view until(char separator) {
        const size_t start = m_pos;
        while (m_pos < m_size && m_data[m_pos] != static_cast<uint8_t>(separator))
            ++m_pos;
        std::string_view out(reinterpret_cast<const char*>(m_data + start), m_pos - start);
        if (m_pos < m_size)
            ++m_pos;
        return out;
    }
    std::string_view rest() {
        std::string_view out(reinterpret_cast<const char*>(m_data + m_pos), m_size - m_pos);
        m_pos = m_size;
        return out;
    }
    size_t remaining() const { return m_size - m_pos; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// The path of this process's scratch file, created on first use and removed at exit. One file
// for the whole run: a fuzzer makes millions of calls, and a file per call would fill /tmp.
const std::string& ScratchPath(const char* name);
// Replaces the scratch file's content with `data`.
void WriteScratch(const std::string& path, const uint8_t* data, size_t size);
// Copies a C text field into a string, checking that it is terminated inside its buffer.
std::string TerminatedField(const char* field, size_t size);

} // namespace corvane::fuzz
