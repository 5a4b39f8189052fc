#include "CliCommon.h"

#include <filesystem>
#include <system_error>

#include "app/ConfigLocation.h"
#include "support/IniFile.h"
#include "support/PathParts.h"

namespace corvane::cli {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t PathMax = 259; // characters; the buffers hold the terminator as well

} // namespace

bool isHelpOption(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}

std::optional<int> usageAnswer(const CliContext& context, CliArguments arguments,
                               const char* usage) {
    if (arguments.empty()) {
        std::fputs(usage, context.err);
        return ExitUsage;
    }
    for (const std::string& argument : arguments) {
        if (isHelpOption(argument)) {
            std::fputs(usage, context.out);
            return ExitSuccess;
        }
    }
    return std::nullopt;
}

OptionTaken takeValueOption(CliArguments arguments, size_t& i,
                            std::initializer_list<ValueOption> options) {
    for (const ValueOption& option : options) {
        if (arguments[i] != option.name)
            continue;
        if (i + 1 >= arguments.size())
            return OptionTaken::ValueMissing;
        *option.value = arguments[++i];
        return OptionTaken::Taken;
    }
    return OptionTaken::No;
}

int fail(const CliContext& context, int status, const std::string& message) {
    std::fprintf(context.err, "corvane-cli: %s\n", message.c_str());
    return status;
}

std::string namedPath(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    std::string result = ec ? path : absolute.lexically_normal().string();
    if (result.empty() || result.size() > PathMax) {
        return {};
    }
    return result;
}

int checkReadableFile(const std::string& path, std::string* error) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        *error = path + ": no such file";
        return 0;
    }
    if (fs::is_directory(path, ec)) {
        *error = path + ": is a folder, not a file";
        return 0;
    }
    IniError loadError;
    IniFile::load(path, &loadError);
    if (loadError) {
        *error = loadError.message;
        return 0;
    }
    return 1;
}

int resolveConfigFile(const CliContext& context, std::string& path) {
    if (!context.configPath.empty()) {
        path = namedPath(context.configPath);
        if (path.empty()) {
            return fail(context, ExitUsage,
                        "configuration path is longer than 259 characters: " + context.configPath);
        }
        std::string error;
        if (!checkReadableFile(path, &error)) {
            return fail(context, ExitFile, error);
        }
        return ExitSuccess;
    }
    // The window program's portable file counts too, so that both tools beside each other
    // share one configuration.
    const std::string folder = WexSplitPath(context.executablePath, PathDrive | PathFolder);
    for (const std::string& program : {context.executablePath, folder + "corvane"}) {
        const std::string beside = ConfigFileBeside(program);
        if (!beside.empty() && WexPathExists(1, beside.c_str())) {
            path = beside;
            return ExitSuccess;
        }
    }
    path = DefaultConfigFilePath(context.executablePath);
    return ExitSuccess;
}

} // namespace corvane::cli
