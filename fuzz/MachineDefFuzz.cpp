// MachineDefRead on any file: every text field stays terminated inside its buffer, and the
// definition read survives being stored and read again unchanged (what the machine sheet
// saves is what the next start loads).

#include <cstring>

#include "FuzzSupport.h"
#include "settings/MachineDef.h"
#include "settings/MachineDefKeys.h"
#include "support/IniFile.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

// A text value with a CR inside cannot be written back whole (a line break ends a stored
// value), so such a field is left out of the comparison.
bool writableText(const char* field, size_t size) {
    return std::memchr(field, '\r', strnlen(field, size)) == nullptr;
}

void checkSame(const MachineLine& lineA, const MachineConfig& configA, const MachineLine& lineB,
               const MachineConfig& configB) {
    for (const MachineDefKey& entry : MachineDefKeys()) {
        const void* a = MachineDefField(entry, lineA, configA);
        const void* b = MachineDefField(entry, lineB, configB);
        if (entry.kind == ProfileText) {
            const auto* textA = static_cast<const char*>(a);
            const auto* textB = static_cast<const char*>(b);
            const size_t size = static_cast<size_t>(entry.count);
            if (!writableText(textA, size))
                continue;
            FUZZ_CHECK(TerminatedField(textA, size) == TerminatedField(textB, size));
        } else {
            FUZZ_CHECK(std::memcmp(a, b, sizeof(int32_t) * static_cast<size_t>(entry.count)) == 0);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = ScratchPath("mdf");
    WriteScratch(path, data, size);

    MachineDef machine;
    MachineDefSetDefaults(machine.line, machine.config);
    // Text that is no machine definition is refused and leaves the machine as it was.
    if (MachineDefRead(path.c_str(), machine.line, machine.config) == 0) {
        MachineDef untouched;
        MachineDefSetDefaults(untouched.line, untouched.config);
        FUZZ_CHECK(MachineDefSame(machine, untouched));
        return 0;
    }

    TerminatedField(machine.line.PortName, sizeof machine.line.PortName);
    for (const MachineDefKey& entry : MachineDefKeys())
        if (entry.kind == ProfileText)
            TerminatedField(
                static_cast<const char*>(MachineDefField(entry, machine.line, machine.config)),
                static_cast<size_t>(entry.count));
    FUZZ_CHECK(std::strchr(machine.config.DefExt, '.') == nullptr);

    IniFile stored;
    MachineDefStore(stored, machine.line, machine.config);
    const IniFile reread = IniFile::parse(stored.text());
    MachineDef again;
    MachineDefSetDefaults(again.line, again.config);
    MachineDefLoad(reread, again.line, again.config);
    checkSame(machine.line, machine.config, again.line, again.config);
    return 0;
}
