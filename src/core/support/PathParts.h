#pragma once
// Path parts and existence tests. Both '/' and '\\' end a folder, so paths that older
// configuration files carry in Windows form still split where their author meant; a drive
// is only recognised on Windows.

#include <string>
#include <string_view>

namespace corvane {

enum PathPartMask : int {
    PathDrive = 1,
    PathFolder = 2,
    PathName = 4,
    PathExtension = 8,
};

struct PathParts {
    std::string drive;     // "C:" on Windows, always empty elsewhere
    std::string folder;    // up to and including the last separator
    std::string name;      // the last component without its extension
    std::string extension; // from the last dot of the last component, dot included
};

PathParts WexSplitPathParts(std::string_view path);

// The parts chosen by `mask` joined in path order: 3 the folder with its separator,
// 7 the path without extension, 4 the name, 12 name and extension.
std::string WexSplitPath(std::string_view path, int mask);

// The same into a buffer of `outSize` bytes. 1 when the whole result fit; 0 for a null
// path or buffer or a result that had to be cut (the buffer then holds it cut, terminated).
int WexSplitPath(const char* path, int mask, char* out, int outSize);

// kind 0: non-zero when `path` names an existing folder; kind 1: an existing file that is
// not a folder. 0 for a null path or any other kind.
int WexPathExists(int kind, const char* path);

} // namespace corvane
