#include "settings/MachineDef.h"

#include <cstring>

#include "settings/MachineDefKeys.h"
#include "support/IniFile.h"
#include "support/Profile.h"

namespace corvane {

namespace {

constexpr int32_t AnyCode = 255;

#define LINE_INT(key, lo, hi)                                                                      \
    MachineDefKey {                                                                                \
        MachineLineSection, #key, ProfileIntegers, 1, MachineGroup::Line,                          \
            offsetof(MachineLine, key), lo, hi                                                     \
    }
#define CONFIG_INT(key, lo, hi)                                                                    \
    MachineDefKey {                                                                                \
        MachineConfigSection, #key, ProfileIntegers, 1, MachineGroup::Config,                      \
            offsetof(MachineConfig, key), lo, hi                                                   \
    }
#define CONFIG_TRIPLE(key, lo, hi)                                                                 \
    MachineDefKey {                                                                                \
        MachineConfigSection, #key, ProfileIntegers, 3, MachineGroup::Config,                      \
            offsetof(MachineConfig, key), lo, hi                                                   \
    }
// `size` is the buffer the file value is read into; the longest text is one less.
#define CONFIG_TEXT(key, size)                                                                     \
    MachineDefKey {                                                                                \
        MachineConfigSection, #key, ProfileText, size, MachineGroup::Config,                       \
            offsetof(MachineConfig, key), 0, (size)-1                                              \
    }

constexpr MachineDefKey Keys[] = {
    LINE_INT(PortNo, 0, 255),
    LINE_INT(BaudRate, 0, 7),
    LINE_INT(DataLen, 0, 1),
    LINE_INT(Parity, 0, 2),
    LINE_INT(Stop, 0, 1),
    LINE_INT(HandShake, 0, 7),
    LINE_INT(OutCode, 0, 2),
    LINE_INT(PtrStart, 0, AnyCode),
    LINE_INT(PtrStop, 0, AnyCode),
    LINE_INT(PtpStart, 0, AnyCode),
    LINE_INT(PtpStop, 0, AnyCode),
    // The POSIX device comes last so that files for the other platforms read the same.
    MachineDefKey{MachineLineSection, "PortName", ProfileText, 260, MachineGroup::Line,
                  offsetof(MachineLine, PortName), 0, 259},

    CONFIG_INT(OutofFile, 0, 1),
    CONFIG_INT(SendSpace, 0, 1),
    CONFIG_INT(RecvSpace, 0, 2),
    CONFIG_INT(Xoff, 0, 1),
    CONFIG_INT(ErCode, 0, 3),
    CONFIG_INT(TVCheck, 0, 2),
    CONFIG_INT(LfCode, 0, 3),
    CONFIG_INT(Comment, 0, 1),
    CONFIG_INT(HeadLf, 0, 1),
    CONFIG_INT(NnoBase, 0, 10000000),
    CONFIG_INT(NnoIncr, 0, 100000),
    CONFIG_TRIPLE(PtpNull, 0, 1000),
    CONFIG_TRIPLE(PtpSpace, 0, 1000),
    CONFIG_INT(PtrBegin, 0, 1),
    CONFIG_INT(PtrEof, 0, 3),
    CONFIG_INT(DeleteErCode, 0, 1),
    CONFIG_INT(SendDelay, 0, 1000),
    CONFIG_INT(PtrTimeOut, 0, 100000),
    CONFIG_TEXT(PtrUser0, 256),
    CONFIG_TEXT(PtrUser1, 256),
    CONFIG_TEXT(PtpUser0, 256),
    CONFIG_TEXT(PtpUser1, 256),
    CONFIG_TEXT(PtpUser2, 256),
    // DefDir's buffer is larger, but the file carries at most 259 characters of it.
    CONFIG_TEXT(DefDir, 260),
    CONFIG_TEXT(DefExt, 260),
    CONFIG_INT(WordBreak, 0, 1),
    CONFIG_TEXT(SendSkipCode, 256),
    CONFIG_TEXT(SendSkipLine, 256),
    CONFIG_TEXT(ReceiveSkipCode, 256),
    CONFIG_TEXT(ReceiveSkipLine, 256),
};

#undef LINE_INT
#undef CONFIG_INT
#undef CONFIG_TRIPLE
#undef CONFIG_TEXT

// "*.nc" and ".nc" both mean "nc"; the file selection adds its own "*.".
void stripExtensionDot(char* defExt) {
    const char* dot = std::strrchr(defExt, '.');
    if (dot != nullptr) {
        std::memmove(defExt, dot + 1, std::strlen(dot + 1) + 1);
    }
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

std::span<const MachineDefKey> MachineDefKeys() {
    return Keys;
}

const MachineDefKey* FindMachineDefKey(std::string_view key) {
    for (const MachineDefKey& entry : Keys) {
        if (equalsNoCase(key, entry.key)) {
            return &entry;
        }
    }
    return nullptr;
}

void* MachineDefField(const MachineDefKey& entry, MachineLine& line, MachineConfig& config) {
    char* base = entry.group == MachineGroup::Line ? reinterpret_cast<char*>(&line)
                                                   : reinterpret_cast<char*>(&config);
    return base + entry.offset;
}

const void* MachineDefField(const MachineDefKey& entry, const MachineLine& line,
                            const MachineConfig& config) {
    const char* base = entry.group == MachineGroup::Line ? reinterpret_cast<const char*>(&line)
                                                         : reinterpret_cast<const char*>(&config);
    return base + entry.offset;
}

int MachineDefSetDefaults(MachineLine& line, MachineConfig& config) {
    // Value-initialisation zeroes every buffer and then applies the member defaults.
    line = MachineLine{};
    config = MachineConfig{};
    return 1;
}

void MachineDefLoad(const IniFile& ini, MachineLine& line, MachineConfig& config) {
    // Work on a copy so that the caller's groups change in one step.
    MachineLine newLine = line;
    MachineConfig newConfig = config;
    int32_t version = 0; // read for completeness; no rule depends on it yet
    ProfileGetValue(ini, MachineInfoSection, "Version", ProfileIntegers, &version, 1);
    for (const MachineDefKey& entry : Keys) {
        ProfileGetValue(ini, entry.section, entry.key, entry.kind,
                        MachineDefField(entry, newLine, newConfig), entry.count);
    }
    stripExtensionDot(newConfig.DefExt);
    line = newLine;
    config = newConfig;
}

void MachineDefStore(IniFile& ini, const MachineLine& line, const MachineConfig& config) {
    const int32_t version = MachineFileVersion;
    ProfileSetValue(ini, MachineInfoSection, "Version", ProfileIntegers, &version, 1);
    for (const MachineDefKey& entry : Keys) {
        ProfileSetValue(ini, entry.section, entry.key, entry.kind,
                        MachineDefField(entry, line, config), entry.count);
    }
}

int MachineDefReadFile(const char* path, MachineLine& line, MachineConfig& config,
                       std::string* error) {
    if (path == nullptr || *path == '\0') {
        if (error != nullptr) {
            *error = "no machine definition file named";
        }
        return 0;
    }
    IniError loadError;
    const IniFile ini = IniFile::load(path, &loadError);
    if (loadError || !ini.exists()) {
        if (error != nullptr) {
            *error = loadError ? loadError.message : std::string(path) + ": no such file";
        }
        return 0;
    }
    // Any text parses as INI; a file with none of our sections (a program, random bytes, a
    // file of another tool) would otherwise pass for a machine with every value defaulted.
    if (!ini.hasSection(MachineInfoSection) && !ini.hasSection(MachineLineSection) &&
        !ini.hasSection(MachineConfigSection)) {
        if (error != nullptr) {
            *error = std::string(path) + ": not a machine definition (no [" + MachineLineSection +
                     "] or [" + MachineConfigSection + "] section)";
        }
        return 0;
    }
    if (ini.text().find('\0') != std::string::npos) {
        if (error != nullptr) {
            *error = std::string(path) + ": not a machine definition (binary data)";
        }
        return 0;
    }
    MachineDefLoad(ini, line, config);
    return 1;
}

int MachineDefRead(const char* path, MachineLine& line, MachineConfig& config) {
    return MachineDefReadFile(path, line, config, nullptr);
}

int MachineDefReadWhole(const char* path, MachineDef& machine, std::string* error) {
    MachineDef whole;
    MachineDefSetDefaults(whole.line, whole.config);
    if (MachineDefReadFile(path, whole.line, whole.config, error) == 0) {
        return 0;
    }
    machine = whole;
    return 1;
}

bool MachineDefSame(const MachineDef& a, const MachineDef& b) {
    for (const MachineDefKey& entry : Keys) {
        const void* left = MachineDefField(entry, a.line, a.config);
        const void* right = MachineDefField(entry, b.line, b.config);
        if (entry.kind == ProfileText) {
            if (std::strncmp(static_cast<const char*>(left), static_cast<const char*>(right),
                             static_cast<size_t>(entry.count)) != 0) {
                return false;
            }
        } else if (std::memcmp(left, right, sizeof(int32_t) * static_cast<size_t>(entry.count)) !=
                   0) {
            return false;
        }
    }
    return true;
}

int MachineDefWriteFile(const char* path, const MachineLine& line, const MachineConfig& config,
                        std::string* error) {
    if (path == nullptr || *path == '\0') {
        if (error != nullptr) {
            *error = "no machine definition file named";
        }
        return 0;
    }
    // The file may be the configuration file, so everything else in it is kept; an existing
    // file that cannot be read is left alone rather than replaced by our keys alone.
    IniError failure;
    IniFile ini = IniFile::load(path, &failure);
    if (!failure) {
        MachineDefStore(ini, line, config);
        failure = ini.save(path);
    }
    if (failure) {
        if (error != nullptr) {
            *error = failure.message;
        }
        return 0;
    }
    return 1;
}

int MachineDefWrite(const char* path, const MachineLine& line, const MachineConfig& config) {
    return MachineDefWriteFile(path, line, config, nullptr);
}

} // namespace corvane
