#include "settings/AppConfig.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "settings/MachineDefKeys.h"
#include "settings/ProfileStore.h"
#include "support/IniFile.h"
#include "support/PathParts.h"
#include "support/Profile.h"

namespace corvane {

namespace {

// One entry of the .cfg format. `slots` > 1 turns the key into a printf pattern numbered
// from 00, each slot `stride` bytes after the one before.
struct ConfigKey {
    const char* section;
    const char* key;
    ProfileKind kind;
    int count;
    std::size_t offset;
    int slots;
    std::size_t stride;
};

#define SETTING_INT(field, n)                                                                      \
    ConfigKey {                                                                                    \
        "CFG_Setting", #field, ProfileIntegers, n, offsetof(AppConfig, field), 1, 0                \
    }

constexpr ConfigKey ConfigKeys[] = {
    SETTING_INT(WindowPos, 4),
    SETTING_INT(WindowShow, 1),
    SETTING_INT(ToolBar, 1),
    SETTING_INT(StatusBar, 1),
    SETTING_INT(MenuBar, 1),
    SETTING_INT(OneInstance, 1),
    SETTING_INT(rgbBKColor, 1),
    SETTING_INT(rgbFGColor, 1),
    SETTING_INT(rgbCtlColor, 1),
    SETTING_INT(rgbFlowColor, 1),
    ConfigKey{"CFG_Setting", "McnFile", ProfileText, HistoryPathSize, offsetof(AppConfig, McnFile),
              1, 0},
    SETTING_INT(Echo, 1),
    SETTING_INT(BkShading, 1),
    ConfigKey{"CFG_History", "NcFile%02d", ProfileText, HistoryPathSize,
              offsetof(AppConfig, NcFileHistory), HistorySlots, HistoryPathSize},
    ConfigKey{"CFG_History", "McnFile%02d", ProfileText, HistoryPathSize,
              offsetof(AppConfig, McnFileHistory), HistorySlots, HistoryPathSize},
    ConfigKey{"CustomColor", "Item%02d", ProfileIntegers, 1, offsetof(AppConfig, CustomColor), 16,
              sizeof(Colour)},
};

#undef SETTING_INT

static_assert(sizeof(Colour) == sizeof(int32_t), "colours are stored as 32-bit integers");
static_assert(sizeof(Rect) == 4 * sizeof(int32_t), "WindowPos is stored as four integers");

constexpr const char* InfoSection = "CFG_Info";
constexpr Colour Navy = 0x800000;
constexpr Colour Silver = 0xC0C0C0;
constexpr Colour Yellow = 0x00FFFF;
constexpr Colour Red = 0x0000FF;
constexpr int MinWindowExtent = 64;
constexpr int WidenedExtent = 128;

// Calls `visit(keyName, fieldOffset)` for every key of an entry.
template <typename Visit> void forEachSlot(const ConfigKey& entry, Visit visit) {
    if (entry.slots <= 1) {
        visit(entry.key, entry.offset);
        return;
    }
    for (int slot = 0; slot < entry.slots; ++slot) {
        char name[32];
        std::snprintf(name, sizeof name, entry.key, slot);
        visit(name, entry.offset + slot * entry.stride);
    }
}

bool equalsNoCase(const char* a, const char* b) {
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (lower(static_cast<unsigned char>(*a)) != lower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

void setLoadDefaults(AppConfig& config, const ConfigEnvironment& env) {
    config.WindowPos = Rect{0, 0, 640, 480};
    config.WindowShow = 10;
    config.ToolBar = 0;
    config.StatusBar = 0;
    config.MenuBar = 0;
    config.Echo = 1;
    config.OneInstance = 1;
    config.rgbBKColor = env.colours.window;
    config.rgbFGColor = env.colours.windowText;
    config.rgbCtlColor = Yellow;
    config.rgbFlowColor = Red;
    config.BkShading = 1;
    std::memset(config.NcFileHistory, 0, sizeof config.NcFileHistory);
    std::memset(config.McnFileHistory, 0, sizeof config.McnFileHistory);
}

Colour colourFromTriple(const int16_t triple[3]) {
    return (triple[0] & 0xFF) | (triple[1] & 0xFF) << 8 | (triple[2] & 0xFF) << 16;
}

char (*historyList(AppConfig& config, int list))[HistoryPathSize] {
    switch (list) {
    case 0:
        return config.NcFileHistory;
    case 1:
        return config.McnFileHistory;
    default:
        return nullptr;
    }
}

} // namespace

void AppConfigLoad(const IniFile& ini, AppConfig& config, int32_t& version) {
    ProfileGetValue(ini, InfoSection, "Version", ProfileIntegers, &version, 1);
    char* base = reinterpret_cast<char*>(&config);
    for (const ConfigKey& entry : ConfigKeys) {
        forEachSlot(entry, [&](const char* key, std::size_t offset) {
            if (entry.kind == ProfileText) {
                // A path cut to the buffer would name another file: leave the preset instead.
                const auto raw = ini.get(entry.section, key);
                if (raw && raw->size() >= static_cast<std::size_t>(entry.count)) {
                    return;
                }
            }
            ProfileGetValue(ini, entry.section, key, entry.kind, base + offset, entry.count);
        });
    }
}

void AppConfigStore(IniFile& ini, const AppConfig& config) {
    const int32_t version = ConfigFileVersion;
    ProfileSetValue(ini, InfoSection, "Version", ProfileIntegers, &version, 1);
    const char* base = reinterpret_cast<const char*>(&config);
    for (const ConfigKey& entry : ConfigKeys) {
        forEachSlot(entry, [&](const char* key, std::size_t offset) {
            ProfileSetValue(ini, entry.section, key, entry.kind, base + offset, entry.count);
        });
    }
}

void FitWindowToWorkArea(Rect& window, const Rect& workArea) {
    if (window.left < workArea.left) {
        window.left = workArea.left;
    }
    if (window.top < workArea.top) {
        window.top = workArea.top;
    }
    if (window.right > workArea.right) {
        window.right = workArea.right;
    }
    if (window.bottom > workArea.bottom) {
        window.bottom = workArea.bottom;
    }
    // The edges come from a file and may lie anywhere in 32 bits: measure and widen without
    // overflowing, moving a window at the very end of the range back by the widening.
    const auto widen = [](int32_t& low, int32_t& high) {
        if (int64_t{high} - low < MinWindowExtent) {
            low = std::min(low, INT32_MAX - WidenedExtent);
            high = low + WidenedExtent;
        }
    };
    widen(window.left, window.right);
    widen(window.top, window.bottom);
}

int ImportLegacyConfig(const char* path, AppConfig& config, MachineDef& machine,
                       const ConfigEnvironment& env, LegacyColours& legacy) {
    constexpr uint32_t Text = ProfileTypeText;
    constexpr uint32_t Int16 = ProfileTypeInt16;
    constexpr uint32_t Int32 = ProfileTypeInt32;
    constexpr uint32_t List = ProfileTypeList;
    MachineLine& line = machine.line;
    MachineConfig& mc = machine.config;
    int32_t exVersion = 0;

    ProfileItem table[] = {
        {nullptr, "OutCode", Int32, 0, &line.OutCode, 0},
        {nullptr, "ErCode", Int32, 0, &mc.ErCode, 0},
        {nullptr, "DeleteErCode", Int32, 0, &mc.DeleteErCode, 0},
        {nullptr, "TvCheck", Int32, 0, &mc.TVCheck, 0},
        {nullptr, "LfCode", Int32, 0, &mc.LfCode, 0},
        {nullptr, "OutComment", Int32, 0, &mc.Comment, 0},
        {nullptr, "HeadLf", Int32, 0, &mc.HeadLf, 0},
        {nullptr, "NnoBase", Int32, 0, &mc.NnoBase, 0},
        {nullptr, "NnoIncr", Int32, 0, &mc.NnoIncr, 0},
        {nullptr, "PtrStart", Int32, 0, &line.PtrStart, 0},
        {nullptr, "PtrStop", Int32, 0, &line.PtrStop, 0},
        {nullptr, "PtpStart", Int32, 0, &line.PtpStart, 0},
        {nullptr, "PtpStop", Int32, 0, &line.PtpStop, 0},
        {nullptr, "PtpNull0", Int32, 0, &mc.PtpNull[0], 0},
        {nullptr, "PtpNull1", Int32, 0, &mc.PtpNull[1], 0},
        {nullptr, "PtpNull2", Int32, 0, &mc.PtpNull[2], 0},
        {nullptr, "PtpSpace0", Int32, 0, &mc.PtpSpace[0], 0},
        {nullptr, "PtpSpace1", Int32, 0, &mc.PtpSpace[1], 0},
        {nullptr, "PtpSpace2", Int32, 0, &mc.PtpSpace[2], 0},
        {nullptr, "bPtpSpace", Int32, 0, &mc.SendSpace, 0},
        {nullptr, "PtrSpace", Int32, 0, &mc.RecvSpace, 0},
        {nullptr, "PtrEof", Int32, 0, &mc.PtrEof, 0},
        {nullptr, "Echo", Int32, 0, &config.Echo, 0},
        {nullptr, "SendDelay", Int32, 0, &mc.SendDelay, 0},
        {nullptr, "FileMode", Int32, 0, &mc.OutofFile, 0},
        {nullptr, "UserPtrStart", Text, 256, mc.PtrUser0, 0},
        {nullptr, "UserPtrStop", Text, 256, mc.PtrUser1, 0},
        {nullptr, "UserPtpStart", Text, 256, mc.PtpUser0, 0},
        {nullptr, "UserPtpStop", Text, 256, mc.PtpUser1, 0},
        {nullptr, "UserPtpStop2", Text, 256, mc.PtpUser2, 0},
        {nullptr, "PortNo", Int32, 0, &line.PortNo, 0},
        {nullptr, "BaudRate", Int32, 0, &line.BaudRate, 0},
        {nullptr, "DataLen", Int32, 0, &line.DataLen, 0},
        {nullptr, "Parity", Int32, 0, &line.Parity, 0},
        {nullptr, "StopBit", Int32, 0, &line.Stop, 0},
        {nullptr, "HandShake", Int32, 0, &line.HandShake, 0},
        {nullptr, "DefDir", Text, 520, mc.DefDir, 0},
        {nullptr, "DefExt", Text, 16, mc.DefExt, 0},
        {nullptr, "WindowPos", Int32 | List, 4, &config.WindowPos, 0},
        {nullptr, "WindowShow", Int32, 0, &config.WindowShow, 0},
        {nullptr, "TextBKColor", Int16 | List, 3, legacy.TextBKColor, 0},
        {nullptr, "TextFGColor", Int16 | List, 3, legacy.TextFGColor, 0},
        {nullptr, "ToolBar", Int32, 0, &config.ToolBar, 0},
        {nullptr, "StatusBar", Int32, 0, &config.StatusBar, 0},
        {nullptr, "MenuBar", Int32, 0, &config.MenuBar, 0},
        {nullptr, "DefXoff", Int32, 0, &mc.Xoff, 0},
        {nullptr, "ExVersion", Int32, 0, &exVersion, 0},
        {nullptr, "OneInstance", Int32, 0, &config.OneInstance, 0},
    };
    constexpr int entries = static_cast<int>(sizeof table / sizeof table[0]);

    // Each section is searched for every key; a later section overrides an earlier one.
    int found = 0;
    for (const char* section : {"NC_CONFIG", "RS_CONFIG", "SYS_CONFIG"}) {
        table[0].Section = section;
        found |= ProfileRead(path, table, entries);
    }

    const uint32_t version = static_cast<uint32_t>(exVersion);
    if (version < 0x3C0001 && line.PortNo >= 4) {
        // Files before that version numbered the device file as a port beyond the fourth.
        mc.OutofFile = 1;
        line.PortNo = 0;
    }
    if (version == 0x3C0001 && line.PortNo > 0) {
        // That version counted ports from 1. A port of 0 cannot have been stored by it; it
        // stays 0 instead of becoming a port that does not exist.
        line.PortNo -= 1;
    }

    const auto replaceNegative = [](int32_t& value, int32_t replacement) {
        if (value < 0) {
            value = replacement;
        }
    };
    replaceNegative(line.PtrStart, 0x11);
    replaceNegative(line.PtrStop, 0x93); // what the older program itself substituted
    replaceNegative(line.PtpStart, 0x12);
    replaceNegative(line.PtpStop, 0x14);
    for (int i = 0; i < 3; ++i) {
        replaceNegative(mc.PtpNull[i], 0);
        replaceNegative(mc.PtpSpace[i], 0);
    }
    replaceNegative(mc.SendSpace, 0);
    replaceNegative(mc.ErCode, 3);
    replaceNegative(mc.PtrEof, 1);
    replaceNegative(config.Echo, 1);
    replaceNegative(line.BaudRate, 6);
    replaceNegative(line.HandShake, 7);
    replaceNegative(line.DataLen, 0);
    replaceNegative(line.Parity, 2);

    Rect& window = config.WindowPos;
    if (window.left >= window.right || window.top >= window.bottom) {
        window = Rect{0, 0, 640, 480};
    }
    replaceNegative(mc.Xoff, 0);

    config.rgbBKColor = colourFromTriple(legacy.TextBKColor);
    config.rgbFGColor = colourFromTriple(legacy.TextFGColor);
    config.rgbCtlColor = 0;
    config.rgbFlowColor = 0;
    if (config.rgbBKColor == 0) {
        config.rgbBKColor = env.colours.window;
    }
    if (config.rgbFGColor == 0) {
        config.rgbFGColor = env.colours.windowText;
    }
    if (config.rgbCtlColor == 0) {
        config.rgbCtlColor = Yellow;
    }
    if (config.rgbFlowColor == 0) {
        config.rgbFlowColor = Red;
    }
    return found;
}

int ImportLegacyConfig(const char* path, AppConfig& config, MachineDef& machine,
                       const ConfigEnvironment& env) {
    LegacyColours legacy;
    return ImportLegacyConfig(path, config, machine, env, legacy);
}

int LoadConfig(const char* path, int withMachine, AppConfig& config, MachineDef& machine,
               const ConfigEnvironment& env, LegacyColours& legacy) {
    if (withMachine) {
        MachineDefSetDefaults(machine.line, machine.config);
    }
    setLoadDefaults(config, env);

    // Without the machine flag the live definition is not ours to change: the older format's
    // machine keys and their fix-ups go to a copy that is thrown away.
    MachineDef scratch;
    ImportLegacyConfig(path, config, withMachine ? machine : scratch, env, legacy);

    const IniFile ini = path != nullptr ? IniFile::load(path) : IniFile{};
    int32_t version = 0;
    AppConfigLoad(ini, config, version);

    if (env.workArea != nullptr) {
        FitWindowToWorkArea(config.WindowPos, *env.workArea);
    }

    if (withMachine) {
        MachineDefLoad(ini, machine.line, machine.config);
        // A file that is gone or holds no machine definition is let go, as a missing one
        // always was, so the exit cannot write the machine into it.
        if (!WexPathExists(1, config.McnFile) ||
            MachineDefRead(config.McnFile, machine.line, machine.config) == 0) {
            config.McnFile[0] = '\0';
        }
    }

    if (version == 0) {
        // No CFG_Info: an older file or none at all gets the colours it was known by.
        config.rgbBKColor = Navy;
        config.rgbFGColor = Silver;
        config.rgbCtlColor = Yellow;
        config.rgbFlowColor = Red;
        config.BkShading = 1;
    } else if (version >= 1 && version < ConfigFileVersion) {
        config.BkShading = 0; // the gradient came after those versions
    }
    return 1;
}

int LoadConfig(const char* path, int withMachine, AppConfig& config, MachineDef& machine,
               const ConfigEnvironment& env) {
    LegacyColours legacy;
    return LoadConfig(path, withMachine, config, machine, env, legacy);
}

int SaveConfigFile(const char* path, int withMachine, const AppConfig& config,
                   const MachineDef& machine, std::string* error) {
    if (path == nullptr || *path == '\0') {
        if (error != nullptr) {
            *error = "no configuration file named";
        }
        return 0;
    }
    const bool machineHere = withMachine && config.McnFile[0] == '\0';
    IniError failure;
    IniFile ini = IniFile::load(path, &failure);
    if (!failure) {
        AppConfigStore(ini, config);
        if (machineHere) {
            MachineDefStore(ini, machine.line, machine.config);
        }
        failure = ini.save(path);
    }
    if (failure) {
        if (error != nullptr) {
            *error = failure.message;
        }
        return 0;
    }
    if (withMachine && !machineHere) {
        // Only a change goes back into the machine file (the folder of the last NC file, say),
        // and never into a file that is gone or holds no machine definition any more: a file
        // the user did not save is neither recreated nor written over. The machine file's own
        // failure does not make the configuration unsaved.
        MachineDef stored;
        if (WexPathExists(1, config.McnFile) &&
            MachineDefReadWhole(config.McnFile, stored, nullptr) != 0 &&
            !MachineDefSame(stored, machine)) {
            MachineDefWrite(config.McnFile, machine.line, machine.config);
        }
    }
    return 1;
}

int SaveConfig(const char* path, int withMachine, const AppConfig& config,
               const MachineDef& machine) {
    return SaveConfigFile(path, withMachine, config, machine, nullptr);
}

int HistoryCount(const AppConfig& config, int list) {
    if (list != 0 && list != 1) {
        return 0;
    }
    const auto& slots = list == 0 ? config.NcFileHistory : config.McnFileHistory;
    int count = 0;
    while (count < HistorySlots && slots[count][0] != '\0') {
        ++count;
    }
    return count;
}

int UpdateHistory(AppConfig& config, int list, int action, const char* path) {
    char(*slots)[HistoryPathSize] = historyList(config, list);
    if (slots == nullptr) {
        return 0;
    }
    if (action == 1) {
        std::memset(slots, 0, sizeof(char[HistorySlots][HistoryPathSize]));
    } else if (action == 0 && path != nullptr && *path != '\0' &&
               std::strlen(path) < static_cast<std::size_t>(HistoryPathSize)) {
        // An over-long path would be cut into another name, an empty one would hide the
        // list: neither is listed. The copy matters when `path` is one of the slots (a history
        // item chosen again), which the move below overwrites.
        char entry[HistoryPathSize] = {};
        std::memcpy(entry, path, std::strlen(path) + 1);
        int position = HistorySlots - 1;
        for (int i = 0; i < HistorySlots; ++i) {
            if (equalsNoCase(slots[i], entry)) {
                position = i;
                break;
            }
        }
        for (int i = position; i > 0; --i) {
            std::memcpy(slots[i], slots[i - 1], HistoryPathSize);
        }
        std::memcpy(slots[0], entry, HistoryPathSize);
    }
    return HistoryCount(config, list);
}

} // namespace corvane
