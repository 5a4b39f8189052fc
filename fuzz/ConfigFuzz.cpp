// LoadConfig on any file, with and without the machine definition, with and without a screen
// to fit the window to: text fields stay terminated inside their buffers, the window fits the
// screen it was fitted to, and the configuration read survives being stored and read again.

#include <cstring>

#include "FuzzSupport.h"
#include "settings/AppConfig.h"
#include "support/IniFile.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

bool hasCr(const char* field, size_t size) {
    return std::memchr(field, '\r', strnlen(field, size)) != nullptr;
}

void checkText(const char* a, const char* b, size_t size) {
    if (!hasCr(a, size))
        FUZZ_CHECK(TerminatedField(a, size) == TerminatedField(b, size));
}

void checkSame(const AppConfig& a, const AppConfig& b) {
    FUZZ_CHECK(std::memcmp(&a.WindowPos, &b.WindowPos, sizeof a.WindowPos) == 0);
    FUZZ_CHECK(a.WindowShow == b.WindowShow);
    FUZZ_CHECK(a.Echo == b.Echo);
    FUZZ_CHECK(a.BkShading == b.BkShading);
    FUZZ_CHECK(a.rgbBKColor == b.rgbBKColor);
    FUZZ_CHECK(a.rgbFGColor == b.rgbFGColor);
    FUZZ_CHECK(a.rgbCtlColor == b.rgbCtlColor);
    FUZZ_CHECK(a.rgbFlowColor == b.rgbFlowColor);
    FUZZ_CHECK(std::memcmp(a.CustomColor, b.CustomColor, sizeof a.CustomColor) == 0);
    FUZZ_CHECK(a.ToolBar == b.ToolBar);
    FUZZ_CHECK(a.StatusBar == b.StatusBar);
    FUZZ_CHECK(a.MenuBar == b.MenuBar);
    FUZZ_CHECK(a.OneInstance == b.OneInstance);
    checkText(a.McnFile, b.McnFile, sizeof a.McnFile);
    for (int i = 0; i < HistorySlots; ++i) {
        checkText(a.NcFileHistory[i], b.NcFileHistory[i], HistoryPathSize);
        checkText(a.McnFileHistory[i], b.McnFileHistory[i], HistoryPathSize);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t flags = in.byte();
    const bool withMachine = (flags & 1) != 0;
    // A screen as a desktop reports one: some hundreds to thousands of pixels, anywhere.
    Rect screen;
    screen.left = static_cast<int16_t>(in.word()) / 8;
    screen.top = static_cast<int16_t>(in.word()) / 8;
    screen.right = screen.left + 320 + in.word() % 7680;
    screen.bottom = screen.top + 240 + in.word() % 4320;
    ConfigEnvironment env;
    env.colours.window = in.dword();
    env.colours.windowText = in.dword();
    if (flags & 2)
        env.workArea = &screen;
    const std::string_view file = in.rest();

    const std::string& path = ScratchPath("cfg");
    WriteScratch(path, reinterpret_cast<const uint8_t*>(file.data()), file.size());

    AppConfig config;
    MachineDef machine;
    LegacyColours legacy;
    FUZZ_CHECK(LoadConfig(path.c_str(), withMachine ? 1 : 0, config, machine, env, legacy) == 1);

    TerminatedField(config.McnFile, sizeof config.McnFile);
    for (int i = 0; i < HistorySlots; ++i) {
        TerminatedField(config.NcFileHistory[i], HistoryPathSize);
        TerminatedField(config.McnFileHistory[i], HistoryPathSize);
    }
    if (withMachine) {
        TerminatedField(machine.line.PortName, sizeof machine.line.PortName);
        TerminatedField(machine.config.DefDir, sizeof machine.config.DefDir);
        TerminatedField(machine.config.SendSkipLine, sizeof machine.config.SendSkipLine);
    }
    if (env.workArea != nullptr) {
        // Pulled inside the screen, and never narrower or lower than the window can be.
        const Rect& w = config.WindowPos;
        FUZZ_CHECK(w.left >= screen.left && w.top >= screen.top);
        FUZZ_CHECK(w.right > w.left && w.bottom > w.top);
    }

    IniFile stored;
    AppConfigStore(stored, config);
    AppConfig again;
    int32_t version = 0;
    AppConfigLoad(IniFile::parse(stored.text()), again, version);
    FUZZ_CHECK(version == ConfigFileVersion);
    checkSame(config, again);
    return 0;
}
