#pragma once
// The application configuration: window placement, bars, log colours, options, the current
// machine file and the two recent-file lists. Stored in the .cfg file.

#include <cstdint>
#include <string>

#include "settings/MachineDef.h"

namespace corvane {

class IniFile;

struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

using Colour = uint32_t; // 0x00BBGGRR, red in the low byte

constexpr int HistorySlots = 16;
constexpr int HistoryPathSize = 260;

struct AppConfig {
    Rect WindowPos{0, 0, 640, 480};
    int32_t WindowShow = 10;
    int32_t Echo = 1;
    int32_t BkShading = 1;
    Colour rgbBKColor = 0xFFFFFF;
    Colour rgbFGColor = 0x000000;
    Colour rgbCtlColor = 0x00FFFF;
    Colour rgbFlowColor = 0x0000FF;
    Colour CustomColor[16] = {};
    int32_t ToolBar = 0;
    int32_t StatusBar = 0;
    int32_t MenuBar = 0;
    int32_t OneInstance = 1;
    char McnFile[260] = {};
    char NcFileHistory[HistorySlots][HistoryPathSize] = {};
    char McnFileHistory[HistorySlots][HistoryPathSize] = {};
};

// The system colours the defaults take from the desktop; the GUI supplies real ones.
struct SystemColours {
    Colour window = 0xFFFFFF;
    Colour windowText = 0x000000;
};

// The screen area a window may occupy; null means "do not fit" (the CLI).
struct ConfigEnvironment {
    SystemColours colours;
    const Rect* workArea = nullptr;
};

int LoadConfig(const char* path, int withMachine, AppConfig& config, MachineDef& machine,
               const ConfigEnvironment& env);
int SaveConfig(const char* path, int withMachine, const AppConfig& config,
               const MachineDef& machine);
int ImportLegacyConfig(const char* path, AppConfig& config, MachineDef& machine,
                       const ConfigEnvironment& env);
// list 0 = NcFileHistory, 1 = McnFileHistory; action 0 add, 1 clear. Returns the count.
int UpdateHistory(AppConfig& config, int list, int action, const char* path);
int HistoryCount(const AppConfig& config, int list);

// The colour triples of the older configuration format. Only the import fills them; whoever
// owns the program-wide state keeps one of these for the whole run. The overloads above that
// take none use a fresh, zeroed one.
struct LegacyColours {
    int16_t TextBKColor[3] = {};
    int16_t TextFGColor[3] = {};
};

int LoadConfig(const char* path, int withMachine, AppConfig& config, MachineDef& machine,
               const ConfigEnvironment& env, LegacyColours& legacy);
int ImportLegacyConfig(const char* path, AppConfig& config, MachineDef& machine,
                       const ConfigEnvironment& env, LegacyColours& legacy);
// Like SaveConfig, with the reason of a failure in `error`. With the machine flag and an
// empty McnFile the definition goes into the same file in the same atomic replacement.
int SaveConfigFile(const char* path, int withMachine, const AppConfig& config,
                   const MachineDef& machine, std::string* error);

inline constexpr int32_t ConfigFileVersion = 320;

// The configuration's own sections on a document in memory, in file order. Loading takes
// Version into `version` (left as preset when missing); an over-long path is not taken.
void AppConfigLoad(const IniFile& ini, AppConfig& config, int32_t& version);
void AppConfigStore(IniFile& ini, const AppConfig& config);

// Pulls the rectangle inside the work area and widens one narrower or lower than 64 to 128.
void FitWindowToWorkArea(Rect& window, const Rect& workArea);

} // namespace corvane
