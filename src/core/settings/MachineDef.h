#pragma once
// The machine definition: everything that differs from one machine tool to the next.
// Two groups, stored in the MCN_RS232C and MCN_Config sections of an .MDF file.
// Fields keep the file's key names so a reader can hold code and file side by side.

#include <cstdint>
#include <string>

namespace corvane {

// Serial line settings (section MCN_RS232C).
struct MachineLine {
    int32_t PortNo = 0;      // counted from 0: 0 is COM1
    int32_t BaudRate = 5;    // index into 300..38400
    int32_t DataLen = 0;     // 0 = 7 bits, 1 = 8 bits
    int32_t Parity = 2;      // 0 none, 1 odd, 2 even
    int32_t Stop = 1;        // 0 = 1 stop bit, 1 = 2 stop bits
    int32_t HandShake = 7;   // bit 0 Xon/Xoff, bit 1 DSR/DTR, bit 2 RTS/CTS
    int32_t OutCode = 0;     // 0 ISO, 1 EIA, 2 ASCII
    int32_t PtrStart = 0x11; // DC1
    int32_t PtrStop = 0x13;  // DC3
    int32_t PtpStart = 0x12; // DC2
    int32_t PtpStop = 0x14;  // DC4
    // POSIX device path; when empty, COM n means /dev/ttyS(n-1).
    char PortName[260] = {};
};

// Processing settings (section MCN_Config).
struct MachineConfig {
    int32_t ErCode = 0;
    int32_t TVCheck = 0;
    int32_t LfCode = 1;
    int32_t Comment = 0;
    int32_t HeadLf = 1;
    int32_t NnoBase = 0;
    int32_t NnoIncr = 0;
    int32_t PtpNull[3] = {0, 0, 0};  // before, after, middle
    int32_t PtpSpace[3] = {0, 0, 0}; // before, after, middle
    int32_t SendSpace = 0;
    int32_t RecvSpace = 0;
    int32_t WordBreak = 0;
    int32_t PtrBegin = 0;
    int32_t PtrEof = 0;
    int32_t DeleteErCode = 0;
    int32_t SendDelay = 0;
    int32_t PtrTimeOut = 0;
    char PtrUser0[256] = {};
    char PtrUser1[256] = {};
    char PtpUser0[256] = {};
    char PtpUser1[256] = {};
    char PtpUser2[256] = {};
    char DefDir[520] = {};
    char DefExt[260] = {};
    int32_t Xoff = 0;
    int32_t OutofFile = 0;
    char SendSkipCode[256] = {};
    char SendSkipLine[256] = {};
    char ReceiveSkipCode[256] = {};
    char ReceiveSkipLine[256] = {};
};

struct MachineDef {
    MachineLine line;
    MachineConfig config;
};

// Clears both groups and stores the defaults. Returns 1.
int MachineDefSetDefaults(MachineLine& line, MachineConfig& config);
// Reads the file over both groups (an overlay: missing keys keep their values). Returns 1, or
// 0 when the file is missing, cannot be read or holds no machine definition (the groups are
// then untouched). A caller choosing a machine file wants MachineDefReadWhole instead.
int MachineDefRead(const char* path, MachineLine& line, MachineConfig& config);
// Writes both groups. Returns 1 on success, 0 at the first value that could not be written.
int MachineDefWrite(const char* path, const MachineLine& line, const MachineConfig& config);

// For callers that tell the user: like MachineDefRead, with the reason of a 0 in `error`. A
// file without any of the sections MCN_Info, MCN_RS232C and MCN_Config (or with NUL bytes) is
// not a machine definition and is refused.
int MachineDefReadFile(const char* path, MachineLine& line, MachineConfig& config,
                       std::string* error);
// Reads a machine file as a whole definition: the defaults, then the file, so that nothing of
// the machine in use before survives in the keys the file lacks. `machine` is replaced only
// when the file was read; otherwise it is untouched and `error` says why. Returns 1 or 0.
int MachineDefReadWhole(const char* path, MachineDef& machine, std::string* error);

// Whether two definitions hold the same value in every key of the file.
bool MachineDefSame(const MachineDef& a, const MachineDef& b);

// Like MachineDefWrite, with the reason of a failure in `error`. The file is replaced as a
// whole, so a failed write leaves the previous file intact.
int MachineDefWriteFile(const char* path, const MachineLine& line, const MachineConfig& config,
                        std::string* error);

} // namespace corvane
