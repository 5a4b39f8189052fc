// A line's retained state as the shop verbs read it from the broker; any publisher may have
// left it there. The first byte is the width the name is padded to, the rest the payload. A
// state that reads has a line and an activity, and its status line holds no control character
// (C0, DEL or C1 in its UTF-8 form) whatever the fields held, and a percentage of at most 100.

#include "FuzzSupport.h"
#include "shop/ShopView.h"

using namespace corvane;
using namespace corvane::fuzz;
using namespace corvane::shop;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const size_t width = in.byte();
    const std::string_view payload = in.rest();
    LineState state;
    if (!parseLineState(payload, state))
        return 0;
    const std::string text = formatLineState(state, width);
    FUZZ_CHECK(text.size() >= width);
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
        if (c == 0xC2 && i + 1 < text.size())
            FUZZ_CHECK(static_cast<unsigned char>(text[i + 1]) < 0x80 ||
                       static_cast<unsigned char>(text[i + 1]) > 0x9F);
    }
    if (state.total > 0 && !state.file.empty()) {
        // The progress as it must read, worked out here in 128 bits.
        __extension__ using Wide = unsigned __int128;
        const uint64_t percent =
            state.position >= state.total
                ? 100
                : static_cast<uint64_t>(Wide{state.position} * 100 / state.total);
        FUZZ_CHECK(percent <= 100);
        const std::string progress = "  " + std::to_string(state.position) + "/" +
                                     std::to_string(state.total) + " (" + std::to_string(percent) +
                                     "%)";
        FUZZ_CHECK(text.find(progress) != std::string::npos);
    }
    return 0;
}
