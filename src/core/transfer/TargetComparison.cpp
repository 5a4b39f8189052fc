#include "transfer/TargetComparison.h"

#include <sys/stat.h>

#include <cstdio>

#include "support/ProgramDiff.h"
#include "support/StringIds.h"

namespace corvane {
namespace {

// The window compares what it can hold comfortably; a longer program is not compared.
constexpr off_t MaxComparedBytes = 64 * 1024 * 1024;

std::optional<std::string> readPlainFile(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MaxComparedBytes)
        return std::nullopt;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return std::nullopt;
    std::string text(static_cast<size_t>(info.st_size), '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return std::nullopt;
    return text;
}

std::string withTwo(const char* format, const std::string& a, const std::string& b) {
    const int size = std::snprintf(nullptr, 0, format, a.c_str(), b.c_str());
    if (size <= 0)
        return format;
    std::string out(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, a.c_str(), b.c_str());
    out.resize(static_cast<size_t>(size));
    return out;
}

} // namespace

TargetBefore readTargetBefore(const std::string& path) {
    return TargetBefore{readPlainFile(path)};
}

std::string targetVerdict(TransferHost& host, const TargetBefore& before, const std::string& path) {
    if (!before.text)
        return host.text(IDS_COMPARE_NEW_FILE);
    const std::optional<std::string> received = readPlainFile(path);
    if (!received)
        return {};
    const ProgramComparison result = comparePrograms(*before.text, *received, {}, path, path);
    if (result.identical)
        return host.text(IDS_COMPARE_IDENTICAL);
    return withTwo(host.text(IDS_FMT_COMPARE_DIFFERS), std::to_string(result.differingLines),
                   std::to_string(result.firstDifference));
}

} // namespace corvane
