// The hand-over decoder and the request reader on any bytes. The first four bytes are the
// request kind, the rest the body. A decoded hand-over names only paths a queue entry can hold
// and encodes back into a record that decodes the same. The reader, fed the same bytes in
// chunks of any size, takes out the same requests as when fed all at once, each within the
// size limit and re-framing into exactly the bytes it came from.

#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "app/HandOverRecord.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

void checkPath(const std::string& path) {
    FUZZ_CHECK(path.size() < HandOverPathField);
    FUZZ_CHECK(path.find('\0') == std::string::npos);
}

void checkDecode(uint32_t kind, const uint8_t* body, size_t size) {
    const std::optional<HandOverRequest> request = DecodeHandOver(kind, body, size);
    if (!request)
        return;
    FUZZ_CHECK(kind == LinkKindHandOverPath || kind == LinkKindHandOverRecord);
    checkPath(request->machinePath);
    checkPath(request->filePath);
    if (kind == LinkKindHandOverPath) {
        FUZZ_CHECK(request->flags == HandOverHasFile);
        FUZZ_CHECK(request->machinePath.empty() && request->notifyWindow == 0);
    } else {
        FUZZ_CHECK(size >= HandOverRecordSize);
    }
    const std::string machine =
        (request->flags & HandOverHasMachine) ? request->machinePath : std::string();
    const std::string file = (request->flags & HandOverHasFile) ? request->filePath : std::string();
    const uint32_t notify = (request->flags & HandOverHasNotify) ? request->notifyWindow : 0;
    const auto record = EncodeHandOver(machine, file, notify);
    FUZZ_CHECK(record.has_value());
    const auto again = DecodeHandOver(LinkKindHandOverRecord, record->data(), record->size());
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->machinePath == machine && again->filePath == file &&
               again->notifyWindow == notify);
}

std::vector<LinkRequest> drain(LinkRequestReader& reader, std::vector<LinkRequest> into) {
    while (std::optional<LinkRequest> request = reader.next()) {
        FUZZ_CHECK(!reader.failed());
        FUZZ_CHECK(request->data.size() <= LinkRequestMaxSize);
        into.push_back(std::move(*request));
    }
    return into;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    const uint32_t kind = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                          static_cast<uint32_t>(data[2]) << 16 |
                          static_cast<uint32_t>(data[3]) << 24;
    // The body in a buffer of its exact size, so a read past it is caught.
    const size_t bodySize = size - 4;
    auto body = std::make_unique<uint8_t[]>(bodySize);
    std::memcpy(body.get(), data + 4, bodySize);
    checkDecode(kind, body.get(), bodySize);
    checkDecode(LinkKindHandOverPath, body.get(), bodySize);
    checkDecode(LinkKindHandOverRecord, body.get(), bodySize);

    // The whole input as a stream of framed requests.
    LinkRequestReader whole;
    whole.feed(data, size);
    const std::vector<LinkRequest> expected = drain(whole, {});

    LinkRequestReader chunked;
    std::vector<LinkRequest> got;
    uint32_t random = kind | 1u;
    for (size_t at = 0; at < size;) {
        random = random * 1103515245u + 12345u;
        const size_t n = std::min<size_t>(size - at, 1 + (random >> 16) % 64);
        chunked.feed(data + at, n);
        at += n;
        got = drain(chunked, std::move(got));
    }
    FUZZ_CHECK(chunked.failed() == whole.failed());
    FUZZ_CHECK(got.size() == expected.size());
    std::vector<uint8_t> framed;
    for (size_t i = 0; i < got.size(); ++i) {
        FUZZ_CHECK(got[i].kind == expected[i].kind && got[i].data == expected[i].data);
        const auto frame = EncodeLinkRequest(got[i].kind, got[i].data.data(), got[i].data.size());
        framed.insert(framed.end(), frame.begin(), frame.end());
    }
    FUZZ_CHECK(framed.size() <= size);
    FUZZ_CHECK(framed.empty() || std::memcmp(framed.data(), data, framed.size()) == 0);
    if (chunked.failed())
        FUZZ_CHECK(!chunked.next().has_value());
    return 0;
}
