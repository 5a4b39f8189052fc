#include "app/ConfigLocation.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "support/PathParts.h"

#if defined(__APPLE__)
#include <cstdint>
#include <mach-o/dyld.h>
#elif defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace corvane {

namespace fs = std::filesystem;

namespace {

bool isSet(const char* value) {
    return value != nullptr && *value != '\0';
}

} // namespace

std::string ExecutablePath(const char* argv0) {
#if defined(__APPLE__)
    char buffer[4096];
    uint32_t size = sizeof buffer;
    if (_NSGetExecutablePath(buffer, &size) == 0) {
        return buffer;
    }
#elif defined(_WIN32)
    char buffer[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length > 0 && length < sizeof buffer) {
        return std::string(buffer, length);
    }
#else
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length > 0 && static_cast<size_t>(length) < sizeof buffer) {
        return std::string(buffer, static_cast<size_t>(length));
    }
#endif
    if (argv0 == nullptr) {
        return {};
    }
    std::error_code ec;
    const fs::path absolute = fs::absolute(argv0, ec);
    return ec ? std::string(argv0) : absolute.string();
}

std::string ConfigFileBeside(const std::string& programPath) {
    if (programPath.empty()) {
        return {};
    }
    return WexSplitPath(programPath, PathDrive | PathFolder | PathName) + ".cfg";
}

std::string UserConfigFilePath(const char* xdgConfigHome, const char* home) {
    if (isSet(xdgConfigHome)) {
        return (fs::path(xdgConfigHome) / "corvane" / "corvane.cfg").string();
    }
    if (isSet(home)) {
#if defined(_WIN32)
        return (fs::path(home) / "corvane" / "corvane.cfg").string();
#else
        return (fs::path(home) / ".config" / "corvane" / "corvane.cfg").string();
#endif
    }
    return {};
}

std::string DefaultConfigFilePath(const std::string& programPath) {
    const std::string beside = ConfigFileBeside(programPath);
    if (!beside.empty() && WexPathExists(1, beside.c_str())) {
        return beside;
    }
#if defined(_WIN32)
    return UserConfigFilePath(nullptr, std::getenv("APPDATA"));
#else
    return UserConfigFilePath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
#endif
}

int EnsureConfigFolder(const std::string& configPath, std::string* error) {
    const fs::path folder = fs::path(configPath).parent_path();
    if (folder.empty()) {
        return 1;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (fs::is_directory(folder, ec)) {
        return 1;
    }
    if (error != nullptr) {
        *error = folder.string() + ": " + (ec ? ec.message() : "not a folder");
    }
    return 0;
}

} // namespace corvane
