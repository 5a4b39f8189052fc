#include "serve/ReceivedCompare.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "serve/Library.h"

namespace corvane::serve {
namespace {

constexpr int MaxVersions = 100000;

bool exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

bool readWhole(const std::string& path, std::string& text, std::string& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (static_cast<uint64_t>(info.st_size) > MaxComparedBytes) {
        error = path + ": too long to compare";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    text.resize(static_cast<size_t>(info.st_size));
    text.resize(std::fread(text.data(), 1, text.size(), file));
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        error = path + ": cannot be read";
    return !failed;
}

} // namespace

std::string earlierVersion(const std::string& library, const std::string& inbox,
                           const std::string& name, std::string& error) {
    const LibraryLookup found = lookupProgram(library, name, {});
    if (found.result == LookupResult::Found)
        return found.path;
    if (found.result == LookupResult::Refused && !found.error.empty()) {
        error = "the library's " + found.error;
        return {};
    }
    const std::string filed = inbox + "/" + name;
    struct stat info {};
    if (lstat(filed.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        return filed;
    return {};
}

ReceivedComparison compareReceived(const std::string& earlier, const std::string& received,
                                   const CompareOptions& options, const std::string& earlierLabel,
                                   const std::string& receivedLabel,
                                   const std::vector<size_t>& setAside) {
    ReceivedComparison out;
    if (earlier.empty()) {
        out.verdict = "new";
        return out;
    }
    std::string older;
    std::string newer;
    if (!readWhole(earlier, older, out.error) || !readWhole(received, newer, out.error))
        return out;
    const ProgramComparison result =
        comparePrograms(older, newer, options, earlierLabel, receivedLabel, setAside);
    out.against = earlierLabel;
    out.verdict = result.identical ? "identical" : "differs";
    out.differing = result.differingLines;
    out.atLine = result.firstDifference;
    out.diff = result.unifiedDiff;
    return out;
}

std::string nextVersionName(const std::string& path) {
    for (int n = 1; n <= MaxVersions; ++n) {
        std::string version = path + ".~" + std::to_string(n) + "~";
        if (!exists(version))
            return version;
    }
    return path + ".~" + std::to_string(MaxVersions + 1) + "~";
}

void setAsideStaleDiff(const std::string& diffPath) {
    if (!exists(diffPath))
        return;
    // A second name first, then the first goes: the diff is never without a name.
    for (int n = 1; n <= MaxVersions; ++n) {
        const std::string version = diffPath + ".~" + std::to_string(n) + "~";
        if (link(diffPath.c_str(), version.c_str()) == 0) {
            unlink(diffPath.c_str());
            return;
        }
        if (errno != EEXIST) {
            if (!exists(version))
                rename(diffPath.c_str(), version.c_str());
            return;
        }
    }
}

void noteComparison(JournalRecord& record, const ReceivedComparison& comparison) {
    record.compare = comparison.verdict;
    record.against = comparison.against;
    record.differing = comparison.differing;
    record.atLine = comparison.atLine;
}

std::string comparisonSummary(const JournalRecord& record) {
    if (record.compare == "identical")
        return "identical to " + record.against;
    if (record.compare == "differs") {
        std::string text = "differs from " + record.against + " in " +
                           std::to_string(record.differing) +
                           (record.differing == 1 ? " line" : " lines") + ", first at line " +
                           std::to_string(record.atLine);
        if (!record.diff.empty())
            text += "; the changes are in " + record.diff;
        return text;
    }
    return record.compare;
}

} // namespace corvane::serve
