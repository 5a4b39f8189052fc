#pragma once
// The .MDF file format as one table: every key with its section, kind, count, the field it
// lives in and the values the machine sheet allows. Reading, writing and the command line's
// checks all walk this table, so a key cannot be added to one and forgotten in another.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "settings/MachineDef.h"
#include "support/Profile.h"

namespace corvane {

class IniFile;

enum class MachineGroup { Line, Config };

struct MachineDefKey {
    const char* section;
    const char* key;
    ProfileKind kind;
    int count; // integers: how many; text: buffer size used for the file
    MachineGroup group;
    std::size_t offset; // of the field within its group
    int32_t min;        // integers: smallest allowed value; text: unused
    int32_t max;        // integers: largest allowed value; text: longest allowed length
};

inline constexpr const char* MachineInfoSection = "MCN_Info";
inline constexpr const char* MachineLineSection = "MCN_RS232C";
inline constexpr const char* MachineConfigSection = "MCN_Config";
inline constexpr int32_t MachineFileVersion = 180;

// Every key in the order the file is written.
std::span<const MachineDefKey> MachineDefKeys();
// The entry for `key`, compared without regard to case; null when there is none.
const MachineDefKey* FindMachineDefKey(std::string_view key);

void* MachineDefField(const MachineDefKey& entry, MachineLine& line, MachineConfig& config);
const void* MachineDefField(const MachineDefKey& entry, const MachineLine& line,
                            const MachineConfig& config);

// Overlay of a document already in memory (missing keys keep their values, DefExt loses
// everything up to its last dot).
void MachineDefLoad(const IniFile& ini, MachineLine& line, MachineConfig& config);
// Sets Version 180 and every key, in file order, into the document.
void MachineDefStore(IniFile& ini, const MachineLine& line, const MachineConfig& config);

} // namespace corvane
