#pragma once
// The application configuration: window placement, bars, log colours, options, the current
// machine file and the two recent-file lists. Stored in the .cfg file.

#include <cstdint>

#include "settings/MachineDef.h"

namespace corvane {

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

} // namespace corvane
