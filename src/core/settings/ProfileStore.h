#pragma once
// Whole tables of typed settings read from or written to an INI file or a registry-style
// target in one call. Registry targets ("HKEY_CURRENT_USER\\Software\\...") live in one INI
// file per root key in the user's configuration folder (HKEY_CURRENT_USER.ini); the key path
// and the section together name the section there ("Software\\Vendor\\Section").

#include <cstdint>
#include <string>

namespace corvane {

enum ProfileType : uint32_t {
    ProfileTypeText = 1,
    ProfileTypeInt8 = 2,
    ProfileTypeInt16 = 4,
    ProfileTypeInt32 = 8,
    ProfileTypeFloat = 16,
    ProfileTypeDouble = 32,
    ProfileTypeList = 0x8000, // with a number type: `Count` values in one text
};

struct ProfileItem {
    const char* Section; // null: the section of the entry before
    const char* Key;
    uint32_t Type;
    int32_t Count; // text: buffer bytes; list: elements; otherwise unused
    void* Data;
    int32_t Found; // set by each call: 1 when this entry was read or written
};

// Where registry targets are kept when a call names no folder of its own:
// $XDG_CONFIG_HOME/corvane, else ~/.config/corvane; empty when neither can be found.
std::string ProfileConfigFolder();

// `configFolder` null: ProfileConfigFolder(). Tests pass a folder of their own.
int ProfileRead(const char* target, ProfileItem* table, int count,
                const char* configFolder = nullptr);
int ProfileWrite(const char* target, ProfileItem* table, int count,
                 const char* configFolder = nullptr);

int FileExists(const char* path);
int FolderExists(const char* path);
// `buffer` holds at least 260 bytes.
int MakeTempFileName(char* buffer);
int SplitList(char* text, const char* separators);
int ResolveExistingFile(const char* name, char* buffer, int size);

} // namespace corvane
