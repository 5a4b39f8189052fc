#pragma once
// The program-wide state of one run. One instance lives in the application object built by
// main and is handed by reference to the frame and the transfer host; nothing here is global.

#include <cstdint>
#include <string>

#include "app/StartupOptions.h"
#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "settings/ProductStrings.h"
#include "support/StringTable.h"
#include "transfer/TransferState.h"

namespace corvane::gui {

struct AppState {
    MachineDef machine;
    AppConfig config;
    LegacyColours legacyColours;
    // Product name, notice, maker, version, mail and home page (with the branding file's lines).
    ProductStrings product;
    SendQueue queue;
    TransferState transfer;
    StartupFlags flags;
    // The caller's notify target from "NOTIFY=" or a hand-over; 0 when none.
    uint32_t notifyWindow = 0;
    // The user's private folder of the instance link and the notify sockets; empty when
    // there is none that is safe to use (no link then).
    std::string linkFolder;
    Language language = Language::English;
    std::string configFilePath;
    std::string helpFilePath;
    // The machine sheet's page when it was last closed with OK, Open or Save: the next
    // opening from the menu starts there.
    int machineSheetPage = 0;
    // McnFile as it was before a command-line machine replaced it; put back at exit.
    char SavedMcnFile[260] = {};

    const char* text(int id) const { return WexLoadString(language, id); }
};

} // namespace corvane::gui
