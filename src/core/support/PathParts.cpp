#include "support/PathParts.h"

#include <cstring>
#include <sys/stat.h>

namespace corvane {

PathParts WexSplitPathParts(std::string_view path) {
    PathParts parts;
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') {
        parts.drive = std::string(path.substr(0, 2));
        path.remove_prefix(2);
    }
#endif
    size_t slash = path.find_last_of("/\\");
    size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    parts.folder = std::string(path.substr(0, nameStart));
    std::string_view last = path.substr(nameStart);
    // A leading dot names a hidden file (".profile"), it does not start an extension;
    // "." and ".." have none either.
    size_t dot = last.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0 || last == "..") {
        parts.name = std::string(last);
    } else {
        parts.name = std::string(last.substr(0, dot));
        parts.extension = std::string(last.substr(dot));
    }
    return parts;
}

std::string WexSplitPath(std::string_view path, int mask) {
    PathParts parts = WexSplitPathParts(path);
    std::string out;
    if (mask & PathDrive) {
        out += parts.drive;
    }
    if (mask & PathFolder) {
        out += parts.folder;
    }
    if (mask & PathName) {
        out += parts.name;
    }
    if (mask & PathExtension) {
        out += parts.extension;
    }
    return out;
}

int WexSplitPath(const char* path, int mask, char* out, int outSize) {
    if (!path || !out || outSize < 1) {
        return 0;
    }
    std::string joined = WexSplitPath(std::string_view(path), mask);
    size_t room = static_cast<size_t>(outSize) - 1;
    size_t n = joined.size() < room ? joined.size() : room;
    std::memcpy(out, joined.data(), n);
    out[n] = '\0';
    return n == joined.size() ? 1 : 0;
}

int WexPathExists(int kind, const char* path) {
    if (!path || !*path) {
        return 0;
    }
    struct stat st {};
    if (::stat(path, &st) != 0) {
        return 0;
    }
    bool folder = S_ISDIR(st.st_mode);
    if (kind == 0) {
        return folder ? 1 : 0;
    }
    if (kind == 1) {
        return folder ? 0 : 1;
    }
    return 0;
}

} // namespace corvane
