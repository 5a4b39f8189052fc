// A command payload from the broker, as any publisher may send it. Either a command comes out
// with no refusal, or a refusal that says why; a payload over the size limit is refused
// unread. A command's id fits the limit, a send names something, and the command written back
// (shopCommandJson) is one line that reads back as the same command. A refused command's id,
// when it is kept, fits the limit and is cut only between UTF-8 characters.

#include "FuzzSupport.h"
#include "shop/ShopCommand.h"

using namespace corvane;
using namespace corvane::fuzz;
using namespace corvane::shop;

namespace {

// Complete UTF-8 sequences only (the reader accepts nothing else in a string).
bool wholeUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
        if (n == 0 || i + n > text.size())
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view payload(reinterpret_cast<const char*>(data), size);
    const ShopCommandParse parsed = parseShopCommand(payload);
    if (!parsed.command) {
        FUZZ_CHECK(parsed.refusal.rfind("command refused: ", 0) == 0);
        FUZZ_CHECK(parsed.id.size() <= MaxCommandIdBytes);
        FUZZ_CHECK(wholeUtf8(parsed.id));
        return 0;
    }
    FUZZ_CHECK(size <= MaxCommandBytes);
    FUZZ_CHECK(parsed.refusal.empty());
    const serve::ServeCommand& command = *parsed.command;
    FUZZ_CHECK(parsed.id.empty() && command.id.size() <= MaxCommandIdBytes);
    if (command.kind == serve::ServeCommand::Kind::Send)
        FUZZ_CHECK(!command.name.empty());
    else
        FUZZ_CHECK(command.name.empty());

    const std::string written = shopCommandJson(command);
    FUZZ_CHECK(written.find('\n') == std::string::npos && written.find('\r') == std::string::npos);
    const ShopCommandParse back = parseShopCommand(written);
    FUZZ_CHECK(back.command.has_value());
    FUZZ_CHECK(back.command->kind == command.kind && back.command->name == command.name &&
               back.command->id == command.id);
    FUZZ_CHECK(shopCommandJson(*back.command) == written);
    return 0;
}
