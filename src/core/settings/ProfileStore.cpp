#include "settings/ProfileStore.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/IniFile.h"
#include "support/PathParts.h"
#include "support/Profile.h"

namespace corvane {

namespace {

// Value texts pass through a buffer of this size, as they always have; longer texts are cut.
constexpr size_t ValueBufferSize = 512;
constexpr int PathBufferSize = 260;
constexpr std::string_view MissingMarker = "@_ErrorSection";

struct RootKey {
    const char* name;
    size_t length;
};

constexpr RootKey RootKeys[] = {
    {"HKEY_CURRENT_USER", 17},
    {"HKEY_LOCAL_MACHINE", 18},
    {"HKEY_USERS", 10},
    {"HKEY_CLASSES_ROOT", 17},
};

struct Target {
    bool registry = false;
    std::string file;    // the INI file that holds the values
    std::string keyPath; // registry: the text after the first backslash
};

const RootKey* rootKeyOf(const char* target) {
    for (const RootKey& root : RootKeys) {
        if (strncasecmp(target, root.name, root.length) == 0) {
            return &root;
        }
    }
    return nullptr;
}

std::string fullPath(const char* name) {
    std::filesystem::path path(name);
    if (path.is_relative()) {
        std::error_code ec;
        std::filesystem::path cwd = std::filesystem::current_path(ec);
        if (ec) {
            return {};
        }
        path = cwd / path;
    }
    return path.lexically_normal().string();
}

// Registry targets: one INI file per root key. Returns false for a target that cannot be
// used (a root name without a key path, or no configuration folder).
bool classifyTarget(const char* target, const char* configFolder, Target& out) {
    const RootKey* root = rootKeyOf(target);
    if (!root) {
        out.registry = false;
        out.file = fullPath(target);
        return !out.file.empty();
    }
    const char* backslash = std::strchr(target, '\\');
    if (!backslash) {
        return false;
    }
    std::string folder = configFolder ? configFolder : ProfileConfigFolder();
    if (folder.empty()) {
        return false;
    }
    out.registry = true;
    out.keyPath = backslash + 1;
    out.file = folder + "/" + root->name + ".ini";
    return true;
}

std::string sectionName(const Target& target, const std::string& section) {
    return target.registry ? target.keyPath + "\\" + section : section;
}

uint32_t valueType(uint32_t type) {
    return type & 0xFF;
}

bool knownType(uint32_t type) {
    switch (valueType(type)) {
    case ProfileTypeText:
    case ProfileTypeInt8:
    case ProfileTypeInt16:
    case ProfileTypeInt32:
    case ProfileTypeFloat:
    case ProfileTypeDouble:
        return true;
    default:
        return false;
    }
}

bool isList(uint32_t type) {
    return (type & ProfileTypeList) != 0 && valueType(type) != ProfileTypeText;
}

double parseDouble(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    if (i < text.size() && text[i] == '+' && i + 1 < text.size() && text[i + 1] != '-') {
        ++i;
    }
    double value = 0.0;
    // from_chars, unlike strtod, does not follow the process locale's decimal point.
    auto result = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        return text.substr(i, 1) == "-" ? -HUGE_VAL : HUGE_VAL;
    }
    return result.ec == std::errc() ? value : 0.0;
}

float toFloat(double value) {
    // A double beyond the float range has no float value; hold it at infinity instead.
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
        return value > 0 ? std::numeric_limits<float>::infinity()
                         : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

void storeElement(uint32_t type, void* data, int index, std::string_view field) {
    switch (valueType(type)) {
    case ProfileTypeInt8:
        static_cast<int8_t*>(data)[index] = static_cast<int8_t>(ProfileParseInt(field) & 0xFF);
        break;
    case ProfileTypeInt16:
        static_cast<int16_t*>(data)[index] = static_cast<int16_t>(ProfileParseInt(field));
        break;
    case ProfileTypeInt32:
        static_cast<int32_t*>(data)[index] = ProfileParseInt(field);
        break;
    case ProfileTypeFloat:
        static_cast<float*>(data)[index] = toFloat(parseDouble(field));
        break;
    case ProfileTypeDouble:
        static_cast<double*>(data)[index] = parseDouble(field);
        break;
    default:
        break;
    }
}

std::string formatElement(uint32_t type, const void* data, int index) {
    char text[400];
    switch (valueType(type)) {
    case ProfileTypeInt8:
        std::snprintf(text, sizeof text, "%d", static_cast<const int8_t*>(data)[index]);
        break;
    case ProfileTypeInt16:
        std::snprintf(text, sizeof text, "%d", static_cast<const int16_t*>(data)[index]);
        break;
    case ProfileTypeInt32:
        std::snprintf(text, sizeof text, "%d", static_cast<const int32_t*>(data)[index]);
        break;
    case ProfileTypeFloat:
        std::snprintf(text, sizeof text, "%f",
                      static_cast<double>(static_cast<const float*>(data)[index]));
        break;
    case ProfileTypeDouble:
        std::snprintf(text, sizeof text, "%f", static_cast<const double*>(data)[index]);
        break;
    default:
        text[0] = '\0';
        break;
    }
    return text;
}

void readEntry(ProfileItem& item, std::string value) {
    uint32_t type = item.Type;
    if (valueType(type) == ProfileTypeText) {
        if (item.Count >= 1) {
            size_t n = std::min(value.size(), static_cast<size_t>(item.Count) - 1);
            std::memcpy(item.Data, value.data(), n);
            static_cast<char*>(item.Data)[n] = '\0';
        }
        return;
    }
    if (!isList(type)) {
        storeElement(type, item.Data, 0, value);
        return;
    }
    int n = SplitList(value.data(), ",;");
    if (n == 0) {
        value.clear();
        n = item.Count;
    } else {
        n = std::min(n, static_cast<int>(item.Count));
    }
    // Fields follow one another, each ended by the zero that replaced its separator.
    const char* field = value.c_str();
    const char* end = field + value.size();
    for (int i = 0; i < n; ++i) {
        storeElement(type, item.Data, i, field);
        if (i + 1 < n && field < end) {
            field += std::strlen(field) + 1;
        }
    }
}

// The value text of an entry, cut where the value buffer ends; a list never ends in a
// partial element, which would read back as another number.
std::string buildValue(const ProfileItem& item, bool registry) {
    uint32_t type = item.Type;
    constexpr size_t room = ValueBufferSize - 1;
    if (valueType(type) == ProfileTypeText) {
        const char* text = static_cast<const char*>(item.Data);
        size_t length =
            item.Count > 0 ? strnlen(text, static_cast<size_t>(item.Count)) : std::strlen(text);
        std::string_view value(text, length);
        if (registry) {
            std::string stored = ProfileQuoteText(value.substr(0, room - 2));
            return stored.substr(0, room);
        }
        return "\"" + std::string(value.substr(0, room - 2)) + "\"";
    }
    int n = isList(type) ? item.Count : 1;
    std::string out;
    for (int i = 0; i < n; ++i) {
        std::string element = formatElement(type, item.Data, i);
        size_t extra = element.size() + (out.empty() ? 0 : 1);
        if (out.size() + extra > room) {
            break;
        }
        if (!out.empty()) {
            out += ';';
        }
        out += element;
    }
    return out;
}

bool usable(const ProfileItem& item, const char* section) {
    return section && item.Key && *item.Key && item.Data && knownType(item.Type);
}

void clearFound(ProfileItem* table, int count) {
    for (int i = 0; i < count; ++i) {
        table[i].Found = 0;
    }
}

// The start of a read or write pass: the arguments checked, no entry found yet, the target
// placed. False when there is nothing the pass can work on.
bool startPass(const char* target, ProfileItem* table, int count, const char* configFolder,
               Target& where) {
    if (!target || !table || count < 1) {
        return false;
    }
    clearFound(table, count);
    return classifyTarget(target, configFolder, where);
}

// Calls `visit(item, section)` for every usable entry; an entry without a section of its own
// is in the last one named above it.
template <typename Visit> void forEachUsable(ProfileItem* table, int count, Visit visit) {
    const char* section = nullptr;
    for (int i = 0; i < count; ++i) {
        ProfileItem& item = table[i];
        if (item.Section) {
            section = item.Section;
        }
        if (usable(item, section)) {
            visit(item, section);
        }
    }
}

} // namespace

std::string ProfileConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        return std::string(xdg) + "/corvane";
    }
    const char* home = std::getenv("HOME");
    if (home && *home) {
        return std::string(home) + "/.config/corvane";
    }
    return {};
}

int ProfileRead(const char* target, ProfileItem* table, int count, const char* configFolder) {
    Target where;
    if (!startPass(target, table, count, configFolder, where)) {
        return 0;
    }
    if (!where.registry) {
        char resolved[PathBufferSize + 2];
        if (!ResolveExistingFile(target, resolved, sizeof resolved)) {
            return 0;
        }
        where.file = resolved;
    }
    // The whole file is read once into memory; that copy is all the pass looks at.
    IniError error;
    IniFile ini = IniFile::load(where.file, &error);
    if (error || !ini.exists()) {
        return 0;
    }

    int found = 0;
    forEachUsable(table, count, [&](ProfileItem& item, const char* section) {
        std::optional<std::string> value = ini.get(sectionName(where, section), item.Key);
        if (!value) {
            return;
        }
        std::string text = value->substr(0, std::min(value->find('\0'), ValueBufferSize - 1));
        if (!where.registry && text == MissingMarker) {
            return;
        }
        readEntry(item, std::move(text));
        item.Found = 1;
        ++found;
    });
    return found > 0 ? 1 : 0;
}

int ProfileWrite(const char* target, ProfileItem* table, int count, const char* configFolder) {
    Target where;
    if (!startPass(target, table, count, configFolder, where)) {
        return 0;
    }
    IniError error;
    IniFile ini = IniFile::load(where.file, &error);
    if (error) {
        return 0; // an unreadable file is not replaced by a partial one
    }

    int written = 0;
    forEachUsable(table, count, [&](ProfileItem& item, const char* section) {
        ini.set(sectionName(where, section), item.Key, buildValue(item, where.registry));
        item.Found = 1;
        ++written;
    });
    if (written == 0) {
        return 0;
    }
    if (where.registry) {
        std::error_code ec;
        std::filesystem::create_directories(WexSplitPath(where.file, PathFolder), ec);
    }
    if (ini.save(where.file)) {
        // Nothing reached the file, so no entry counts as written.
        clearFound(table, count);
        return 0;
    }
    return 1;
}

int FileExists(const char* path) {
    return WexPathExists(1, path);
}

int FolderExists(const char* path) {
    return WexPathExists(0, path);
}

int MakeTempFileName(char* buffer) {
    if (!buffer) {
        return 0;
    }
    std::error_code ec;
    std::string folder = std::filesystem::temp_directory_path(ec).string();
    if (ec || folder.empty()) {
        folder = "/tmp";
    }
    if (folder.back() != '/') {
        folder += '/';
    }
    std::string name = folder + "@@@XXXXXX";
    if (name.size() >= PathBufferSize) {
        return 0;
    }
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        return 0;
    }
    ::close(fd);
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return FileExists(buffer);
}

int SplitList(char* text, const char* separators) {
    if (!text || !*text || !separators) {
        return 0;
    }
    if (!*separators) {
        return 1;
    }
    // UTF-8 never uses an ASCII byte inside a longer character, so a byte search cannot cut
    // a character in two.
    int fields = 1;
    for (char* p = std::strpbrk(text, separators); p; p = std::strpbrk(p + 1, separators)) {
        *p = '\0';
        ++fields;
    }
    return fields;
}

int ResolveExistingFile(const char* name, char* buffer, int size) {
    if (!name || !*name || !buffer || size < 1) {
        return 0;
    }
    std::string full = fullPath(name);
    size_t n = std::min(full.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, full.data(), n);
    buffer[n] = '\0';
    // A path that did not fit names some other file; it is never reported as found.
    if (full.empty() || n < full.size()) {
        return 0;
    }
    return FileExists(buffer);
}

} // namespace corvane
