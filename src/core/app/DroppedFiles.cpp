#include "app/DroppedFiles.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/HexDigit.h"
#include "support/PathParts.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

// A link file is a few lines; anything much bigger is not one.
constexpr std::streamsize DesktopFileMax = 64 * 1024;

bool equalsNoCase(const std::string& a, const char* b) {
    const size_t length = std::strlen(b);
    if (a.size() != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

bool hasExtension(const std::string& name, const char* extension) {
    return equalsNoCase(WexSplitPathParts(name).extension, extension);
}

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The escapes of a desktop entry's string values.
std::string unescapeDesktopValue(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            out += value[i];
            break;
        }
    }
    return out;
}

// The local path of a link's URL; nothing for a URL that names no local file.
std::optional<std::string> localPathOfUrl(const std::string& url, const fs::path& linkFolder) {
    if (url.empty())
        return std::nullopt;
    std::string path;
    if (url.compare(0, 7, "file://") == 0) {
        std::string rest = url.substr(7);
        if (rest.compare(0, 9, "localhost") == 0)
            rest.erase(0, 9);
        if (rest.empty() || rest[0] != '/')
            return std::nullopt; // another host's file
        for (size_t i = 0; i < rest.size(); ++i) {
            if (rest[i] == '%' && i + 2 < rest.size() && HexDigitValue(rest[i + 1]) >= 0 &&
                HexDigitValue(rest[i + 2]) >= 0) {
                path += char(HexDigitValue(rest[i + 1]) * 16 + HexDigitValue(rest[i + 2]));
                i += 2;
            } else {
                path += rest[i];
            }
        }
    } else if (url.find("://") != std::string::npos || url.compare(0, 7, "mailto:") == 0) {
        return std::nullopt; // a web page or the like: nothing to send
    } else {
        path = url;
    }
    if (path.find('\0') != std::string::npos)
        return std::nullopt;
    fs::path target(path);
    if (target.is_relative())
        target = linkFolder / target;
    return target.lexically_normal().string();
}

// The file a ".desktop" link names; nothing when it is not a link to a local file.
std::optional<std::string> desktopLinkTarget(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string line;
    bool inEntry = false;
    bool isLink = false;
    std::string url;
    std::streamsize read = 0;
    while (std::getline(in, line)) {
        read += static_cast<std::streamsize>(line.size()) + 1;
        if (read > DesktopFileMax)
            return std::nullopt;
        const std::string text = trim(line);
        if (text.empty() || text[0] == '#')
            continue;
        if (text[0] == '[') {
            inEntry = text == "[Desktop Entry]";
            continue;
        }
        const size_t equals = text.find('=');
        if (!inEntry || equals == std::string::npos)
            continue;
        // The first of a key counts, as in every other INI-like file this program reads.
        const std::string key = trim(text.substr(0, equals));
        const std::string value = unescapeDesktopValue(trim(text.substr(equals + 1)));
        if (key == "Type")
            isLink = value == "Link";
        else if (key == "URL" && url.empty())
            url = value;
    }
    if (!isLink)
        return std::nullopt;
    return localPathOfUrl(url, fs::path(name).parent_path());
}

// A symbolic link's final target; other names unchanged. Nothing for a broken link.
std::optional<std::string> followSymlink(const std::string& name) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(name, error)))
        return name;
    const fs::path target = fs::canonical(name, error);
    if (error)
        return std::nullopt;
    return target.string();
}

// Copies `name` into the next queue entry when it is a file that exists; the size is what the
// remaining-time estimate starts from.
bool queueFile(const std::string& name, SendQueue& queue) {
    if (queue.Count >= SendQueueCapacity)
        return false;
    SendQueueEntry& entry = queue.Entries[queue.Count];
    if (name.size() >= sizeof entry.Name)
        return false;
    std::error_code error;
    if (!fs::is_regular_file(name, error))
        return false;
    const auto size = fs::file_size(name, error);
    entry = SendQueueEntry{};
    std::memcpy(entry.Name, name.c_str(), name.size() + 1);
    entry.Size = error ? 0 : static_cast<uint32_t>(size);
    ++queue.Count;
    return true;
}

} // namespace

std::optional<std::string> ResolveDroppedName(const std::string& name) {
    if (name.empty())
        return std::nullopt;
    // A Windows shortcut is a binary file only the Windows shell can read; sending it to a
    // machine as a program would be worse than ignoring it.
    if (hasExtension(name, ".lnk"))
        return std::nullopt;
    std::optional<std::string> resolved = followSymlink(name);
    if (resolved && hasExtension(*resolved, ".desktop")) {
        resolved = desktopLinkTarget(*resolved);
        if (resolved)
            resolved = followSymlink(*resolved);
    }
    return resolved;
}

DropResult TakeDroppedFiles(const std::vector<std::string>& names, AppConfig& config,
                            MachineDef& machine, SendQueue& queue) {
    DropResult result;
    queue.Count = 0;
    for (const std::string& dropped : names) {
        if (queue.Count >= SendQueueCapacity)
            break;
        const std::optional<std::string> name = ResolveDroppedName(dropped);
        if (!name)
            continue;
        if (hasExtension(*name, ".mdf")) {
            if (name->size() >= sizeof config.McnFile)
                continue;
            // The file is the whole machine (nothing of the one in use lives on in the keys it
            // lacks); one that cannot be read leaves the machine in use exactly as it was.
            if (MachineDefReadWhole(name->c_str(), machine, nullptr) == 0)
                continue;
            std::snprintf(config.McnFile, sizeof config.McnFile, "%s", name->c_str());
            UpdateHistory(config, 1, 0, name->c_str());
            ++result.machinesLoaded;
            continue;
        }
        queueFile(*name, queue);
    }
    result.queued = queue.Count;
    return result;
}

} // namespace corvane
