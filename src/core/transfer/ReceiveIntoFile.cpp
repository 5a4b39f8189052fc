#include "transfer/ReceiveIntoFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/StringIds.h"
#include "transfer/ReceiveEngine.h"
#include "transfer/TransferContext.h"

namespace corvane {

namespace {

std::string formatted(const char* format, const char* a, const char* b = "", const char* c = "") {
    const int n = std::snprintf(nullptr, 0, format, a, b, c);
    if (n <= 0)
        return {};
    std::string out(static_cast<size_t>(n), '\0');
    std::snprintf(out.data(), out.size() + 1, format, a, b, c);
    return out;
}

// The file's data on the disk before it takes the old file's place: a crash right after the
// rename must not leave an empty program under the name.
bool syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

void syncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The file a link names, so the program and not the link is replaced; the path itself
// otherwise (also when it does not exist yet).
std::string storedFileOf(const std::string& target) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(target.c_str(), resolved) != nullptr)
            return resolved;
    }
    return target;
}

} // namespace

std::string ReceivePartPath(const std::string& target) {
    return storedFileOf(target) + ".part";
}

int ReceiveNcFile(TransferContext& ctx, const char* target, ReceiveOutcome* outcome) {
    ReceiveOutcome local;
    ReceiveOutcome& out = outcome != nullptr ? *outcome : local;
    const std::string stored = storedFileOf(target);
    const std::string part = stored + ".part";

    const int result = ReceiveNcDataInto(ctx, target, part.c_str(), &out);
    if (result == ReceiveTargetNotCreated)
        return result; // nothing was created; the engine said which file

    TransferHost& host = ctx.host;
    struct stat old {};
    const bool oldExists = ::stat(stored.c_str(), &old) == 0;
    struct stat arrived {};
    const bool somethingArrived = ::stat(part.c_str(), &arrived) == 0 && arrived.st_size > 0;

    if (result == ReceiveDone && (somethingArrived || !oldExists)) {
        // The new program keeps the old one's permissions.
        if (oldExists)
            ::chmod(part.c_str(), old.st_mode & 07777);
        if (!syncFile(part) || ::rename(part.c_str(), stored.c_str()) != 0) {
            const int error = errno;
            host.logPrint(LogText, formatted(host.text(IDS_FMT_RECEIVE_NOT_IN_PLACE), target,
                                             std::strerror(error), part.c_str()));
            out.result = ReceiveTargetWriteFailed;
            return ReceiveTargetWriteFailed;
        }
        syncFolderOf(stored);
        return result;
    }

    if (somethingArrived) {
        host.logPrint(LogText,
                      formatted(host.text(IDS_FMT_RECEIVE_KEPT_PART), part.c_str(), target));
        return result;
    }
    ::unlink(part.c_str());
    if (oldExists)
        host.logPrint(LogText, formatted(host.text(IDS_FMT_RECEIVE_NOTHING_KEPT), target));
    return result;
}

} // namespace corvane
