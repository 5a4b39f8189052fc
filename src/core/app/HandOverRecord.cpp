#include "app/HandOverRecord.h"

#include <cstring>

namespace corvane {

namespace {

// Longest path a queue entry or the machine path buffer can hold without cutting it.
constexpr size_t longestPath = HandOverPathField - 1;

uint32_t readU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void writeU32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

// The zero-terminated text at the start of `bytes`, looked for only inside `size` bytes: a
// field without its terminator is refused rather than read past or cut into another name.
std::optional<std::string> terminatedText(const uint8_t* bytes, size_t size) {
    const void* end = std::memchr(bytes, 0, size);
    if (end == nullptr)
        return std::nullopt;
    const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(end) - bytes);
    if (length > longestPath)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

constexpr size_t headerSize = 8;
constexpr size_t machineOffset = 8;
constexpr size_t fileOffset = machineOffset + HandOverPathField;

} // namespace

std::optional<HandOverRequest> DecodeHandOver(uint32_t kind, const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0)
        return std::nullopt;

    if (kind == LinkKindHandOverPath || kind == LinkKindHandOverMore) {
        std::optional<std::string> path = terminatedText(data, size);
        if (!path)
            return std::nullopt;
        HandOverRequest request;
        request.flags = HandOverHasFile;
        request.filePath = std::move(*path);
        return request;
    }
    if (kind != LinkKindHandOverRecord || size < HandOverRecordSize)
        return std::nullopt;

    // A longer body is accepted as the record plus bytes nobody reads, as a window message
    // with a larger cbData always was.
    HandOverRequest request;
    request.flags = readU32(data);
    if (request.flags & HandOverHasNotify)
        request.notifyWindow = readU32(data + 4);
    // Only the fields the flags announce are read; an unused field's bytes do not matter.
    if (request.flags & HandOverHasMachine) {
        std::optional<std::string> path = terminatedText(data + machineOffset, HandOverPathField);
        if (!path)
            return std::nullopt;
        request.machinePath = std::move(*path);
    }
    if (request.flags & HandOverHasFile) {
        std::optional<std::string> path = terminatedText(data + fileOffset, HandOverPathField);
        if (!path)
            return std::nullopt;
        request.filePath = std::move(*path);
    }
    return request;
}

std::optional<std::array<uint8_t, HandOverRecordSize>>
EncodeHandOver(const std::string& machinePath, const std::string& filePath, uint32_t notifyWindow,
               bool moreFiles) {
    if (machinePath.size() > longestPath || filePath.size() > longestPath)
        return std::nullopt;
    // An embedded zero would hand over a different, shorter name.
    if (machinePath.find('\0') != std::string::npos || filePath.find('\0') != std::string::npos)
        return std::nullopt;

    std::array<uint8_t, HandOverRecordSize> record{};
    uint32_t flags = 0;
    if (!machinePath.empty()) {
        flags |= HandOverHasMachine;
        std::memcpy(record.data() + machineOffset, machinePath.data(), machinePath.size());
    }
    if (!filePath.empty()) {
        flags |= HandOverHasFile;
        std::memcpy(record.data() + fileOffset, filePath.data(), filePath.size());
    }
    if (notifyWindow != 0) {
        flags |= HandOverHasNotify;
        writeU32(record.data() + 4, notifyWindow);
    }
    if (moreFiles)
        flags |= HandOverMoreFiles;
    writeU32(record.data(), flags);
    return record;
}

std::vector<uint8_t> EncodeLinkRequest(uint32_t kind, const uint8_t* data, size_t size) {
    std::vector<uint8_t> frame(headerSize + size);
    writeU32(frame.data(), kind);
    writeU32(frame.data() + 4, static_cast<uint32_t>(size));
    if (size > 0)
        std::memcpy(frame.data() + headerSize, data, size);
    return frame;
}

void LinkRequestReader::feed(const uint8_t* bytes, size_t count) {
    if (m_failed || bytes == nullptr || count == 0)
        return;
    m_buffer.insert(m_buffer.end(), bytes, bytes + count);
}

std::optional<LinkRequest> LinkRequestReader::next() {
    if (m_failed || m_buffer.size() < headerSize)
        return std::nullopt;
    const uint32_t size = readU32(m_buffer.data() + 4);
    if (size > LinkRequestMaxSize) {
        // The peer is not speaking this protocol; nothing after this header can be trusted.
        m_failed = true;
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        return std::nullopt;
    }
    if (m_buffer.size() < headerSize + size)
        return std::nullopt;
    LinkRequest request;
    request.kind = readU32(m_buffer.data());
    request.data.assign(m_buffer.begin() + headerSize, m_buffer.begin() + headerSize + size);
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + headerSize + size);
    return request;
}

} // namespace corvane
