#pragma once
// SHA-256, for the journal: it proves which bytes were stored or sent, so a shop can match a
// file on disk against the record years later. Streaming, so a large program is never held
// in memory whole.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

class Sha256 {
public:
    Sha256();
    void update(const void* data, size_t size);
    void update(std::string_view text) { update(text.data(), text.size()); }
    // The digest as 64 lower-case hexadecimal digits. Ends the hash; update() after it is an
    // error of the caller.
    std::string hexDigest();

private:
    void block(const uint8_t* data);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_buffer{};
    size_t m_buffered = 0;
    uint64_t m_length = 0; // bytes
};

// The digest of a whole file, or empty when it cannot be read.
std::string sha256OfFile(const std::string& path);

} // namespace corvane
