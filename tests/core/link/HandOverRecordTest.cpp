// The hand-over record and the framed requests on the instance link: which bytes are taken,
// which are refused, and that a second start's record reads back as it was meant.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/HandOverRecord.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

void putU32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A record laid out by hand: flags at 0, window at 4, machine path at 8, file path at 268.
Bytes record(uint32_t flags, uint32_t window, const std::string& machine, const std::string& file,
             size_t size = 528) {
    Bytes bytes(size, 0);
    putU32(bytes, 0, flags);
    putU32(bytes, 4, window);
    for (size_t i = 0; i < machine.size() && 8 + i < size; ++i)
        bytes[8 + i] = static_cast<uint8_t>(machine[i]);
    for (size_t i = 0; i < file.size() && 268 + i < size; ++i)
        bytes[268 + i] = static_cast<uint8_t>(file[i]);
    return bytes;
}

Bytes text(const std::string& s, bool terminated) {
    Bytes bytes(s.begin(), s.end());
    if (terminated)
        bytes.push_back(0);
    return bytes;
}

struct DecodeCase {
    const char* what;
    uint32_t kind;
    Bytes data;
    bool accepted;
    uint32_t flags = 0;
    uint32_t window = 0;
    std::string machine = {};
    std::string file = {};
};

TEST(HandOverRecord, decodeTakesWhatIsWholeAndRefusesTheRest) {
    const std::string path259 = "/" + std::string(258, 'a');
    const std::string path260 = "/" + std::string(259, 'b');
    Bytes longerRecord = record(3, 0, "/m.MDF", "/a.nc", 600);
    longerRecord[599] = 0x55;

    const std::vector<DecodeCase> cases = {
        {"full record", 0xC0000002, record(7, 0x1234ABCD, "/m/MILL.MDF", "/nc/A.NC"), true, 7,
         0x1234ABCD, "/m/MILL.MDF", "/nc/A.NC"},
        {"527 bytes are too short", 0xC0000002, record(2, 0, "", "/a.nc", 527), false},
        {"flags 0 carry nothing", 0xC0000002, record(0, 99, "/m", "/f"), true, 0, 0, "", ""},
        {"window without its flag is not taken", 0xC0000002, record(2, 0xAB, "", "/f"), true, 2, 0,
         "", "/f"},
        {"fields without their flag are not read", 0xC0000002,
         record(4, 5, std::string(260, 'x'), std::string(260, 'y')), true, 4, 5, "", ""},
        {"machine path without a terminator", 0xC0000002, record(1, 0, std::string(260, 'm'), ""),
         false},
        {"file path without a terminator", 0xC0000002, record(2, 0, "", path260), false},
        {"259-character path fits", 0xC0000002, record(3, 0, path259, path259), true, 3, 0, path259,
         path259},
        {"longer body: the record is read, the rest ignored", 0xC0000002, longerRecord, true, 3, 0,
         "/m.MDF", "/a.nc"},
        {"short form", 0xC0000001, text("/nc/B.NC", true), true, 2, 0, "", "/nc/B.NC"},
        {"short form without a terminator", 0xC0000001, text("/nc/B.NC", false), false},
        {"short form: terminator ends the name", 0xC0000001, Bytes{'/', 'x', 0, 'y', 'z', 0}, true,
         2, 0, "", "/x"},
        {"short form of 259 characters", 0xC0000001, text(path259, true), true, 2, 0, "", path259},
        {"short form of 260 characters", 0xC0000001, text(path260, true), false},
        {"short form empty", 0xC0000001, Bytes{}, false},
        {"unknown kind", 0xC0000004, record(2, 0, "", "/a"), false},
        {"command kind is not a hand-over", 0x0111, record(2, 0, "", "/a"), false},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<HandOverRequest> got =
            DecodeHandOver(c.kind, c.data.empty() ? nullptr : c.data.data(), c.data.size());
        ASSERT_EQ(got.has_value(), c.accepted);
        if (!got)
            continue;
        EXPECT_EQ(got->flags, c.flags);
        EXPECT_EQ(got->notifyWindow, c.window);
        EXPECT_EQ(got->machinePath, c.machine);
        EXPECT_EQ(got->filePath, c.file);
    }
}

// A record that opens a list says so in bit 8; the files that follow travel in the short
// form of their own kind.
TEST(HandOverRecord, listRecordAndItsFurtherFiles) {
    const auto bytes = EncodeHandOver("", "/nc/P1.NC", 0, true);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ((*bytes)[0], 2 | 8);
    const auto back = DecodeHandOver(0xC0000002, bytes->data(), bytes->size());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->flags, 2u | 8u);
    EXPECT_EQ(back->filePath, "/nc/P1.NC");
    EXPECT_EQ((*EncodeHandOver("", "/nc/P1.NC", 0))[0], 2);

    const Bytes more = {'/', 'n', 'c', '/', 'P', '2', 0};
    const auto file = DecodeHandOver(0xC0000003, more.data(), more.size());
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->flags, 2u);
    EXPECT_EQ(file->filePath, "/nc/P2");
    const Bytes unterminated = {'/', 'n', 'c'};
    EXPECT_FALSE(DecodeHandOver(0xC0000003, unterminated.data(), unterminated.size()));
}

TEST(HandOverRecord, encodeLaysTheRecordOutAndDecodesBack) {
    const auto bytes = EncodeHandOver("/m/LATHE.MDF", "/nc/P1.NC", 0x00C0FFEE);
    ASSERT_TRUE(bytes.has_value());
    ASSERT_EQ(bytes->size(), 528u);
    EXPECT_EQ(Bytes(bytes->begin(), bytes->begin() + 8),
              (Bytes{7, 0, 0, 0, 0xEE, 0xFF, 0xC0, 0x00}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes->data() + 8)), "/m/LATHE.MDF");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes->data() + 268)), "/nc/P1.NC");

    const auto back = DecodeHandOver(0xC0000002, bytes->data(), bytes->size());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->flags, 7u);
    EXPECT_EQ(back->notifyWindow, 0x00C0FFEEu);
    EXPECT_EQ(back->machinePath, "/m/LATHE.MDF");
    EXPECT_EQ(back->filePath, "/nc/P1.NC");
}

TEST(HandOverRecord, encodeSetsAFlagOnlyForWhatIsGiven) {
    struct Case {
        std::string machine;
        std::string file;
        uint32_t window;
        std::optional<uint32_t> flags; // nothing: refused
    };
    const std::string path259(259, 'p');
    const std::vector<Case> cases = {
        {"", "", 0, 0u},
        {"/m", "", 0, 1u},
        {"", "/f", 0, 2u},
        {"", "", 9, 4u},
        {path259, path259, 0, 3u},
        {path259 + "x", "", 0, std::nullopt},
        {"", path259 + "x", 0, std::nullopt},
        {std::string("/a\0b", 4), "", 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.machine.size());
        const auto bytes = EncodeHandOver(c.machine, c.file, c.window);
        ASSERT_EQ(bytes.has_value(), c.flags.has_value());
        if (!bytes)
            continue;
        EXPECT_EQ((*bytes)[0], *c.flags);
        // Fields of parts not given stay all zero.
        if (c.machine.empty()) {
            for (size_t i = 8; i < 268; ++i)
                ASSERT_EQ((*bytes)[i], 0) << i;
        }
        if (c.file.empty()) {
            for (size_t i = 268; i < 528; ++i)
                ASSERT_EQ((*bytes)[i], 0) << i;
        }
    }
}

TEST(LinkRequestFrames, encodeFramesKindSizeAndBody) {
    const uint8_t body[] = {0x88, 0x13, 0, 0};
    EXPECT_EQ(EncodeLinkRequest(0x0111, body, sizeof body),
              (Bytes{0x11, 0x01, 0, 0, 4, 0, 0, 0, 0x88, 0x13, 0, 0}));
    EXPECT_EQ(EncodeLinkRequest(0x05FE, nullptr, 0), (Bytes{0xFE, 0x05, 0, 0, 0, 0, 0, 0}));
}

// Requests arrive in whatever pieces the socket hands over; the reader must give the same
// requests for every way of cutting the stream.
TEST(LinkRequestFrames, readerGivesTheSameRequestsWhateverTheSplit) {
    Bytes stream;
    const uint8_t query[] = {2, 0, 0, 0};
    const auto rec = EncodeHandOver("", "/nc/A.NC", 0);
    for (const Bytes& frame : {EncodeLinkRequest(0x05FE, query, 4),
                               EncodeLinkRequest(0xC0000002, rec->data(), rec->size()),
                               EncodeLinkRequest(0x0111, nullptr, 0)})
        stream.insert(stream.end(), frame.begin(), frame.end());

    for (size_t piece : {size_t(1), size_t(3), size_t(7), size_t(8), size_t(500), stream.size()}) {
        SCOPED_TRACE(piece);
        LinkRequestReader reader;
        std::vector<LinkRequest> got;
        for (size_t at = 0; at < stream.size(); at += piece) {
            reader.feed(stream.data() + at, std::min(piece, stream.size() - at));
            while (auto request = reader.next())
                got.push_back(*request);
        }
        EXPECT_FALSE(reader.failed());
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[0].kind, 0x05FEu);
        EXPECT_EQ(got[0].data, (Bytes{2, 0, 0, 0}));
        EXPECT_EQ(got[1].kind, 0xC0000002u);
        EXPECT_EQ(got[1].data, Bytes(rec->begin(), rec->end()));
        EXPECT_EQ(got[2].kind, 0x0111u);
        EXPECT_TRUE(got[2].data.empty());
    }
}

TEST(LinkRequestFrames, oversizedHeaderFailsTheReaderForGood) {
    struct Case {
        uint32_t size;
        bool fails;
    };
    for (const Case& c : {Case{4096, false}, Case{4097, true}, Case{0xFFFFFFFF, true}}) {
        SCOPED_TRACE(c.size);
        Bytes header(8, 0);
        putU32(header, 0, 0xC0000002);
        putU32(header, 4, c.size);
        LinkRequestReader reader;
        reader.feed(header.data(), header.size());
        EXPECT_FALSE(reader.next().has_value());
        EXPECT_EQ(reader.failed(), c.fails);
        if (!c.fails)
            continue;
        // Nothing after the bad header is taken, not even a good request.
        const uint8_t query[] = {0, 0, 0, 0};
        const Bytes good = EncodeLinkRequest(0x05FE, query, 4);
        reader.feed(good.data(), good.size());
        EXPECT_FALSE(reader.next().has_value());
        EXPECT_TRUE(reader.failed());
    }
}

} // namespace
} // namespace corvane
