#include "app/StartupOptions.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/HelpLocation.h"
#include "support/ArgumentTokens.h"

namespace corvane {

namespace {

bool sameNoCase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
        if (a[i] == '\0')
            return true; // both ended together
    }
    return true;
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// The path without the extension of its last part.
std::string stemOf(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i) {
        if (isSeparator(path[i - 1]))
            break;
        // A leading dot names a hidden file rather than starting an extension.
        if (path[i - 1] == '.' && i - 1 > 0 && !isSeparator(path[i - 2]))
            return path.substr(0, i - 1);
    }
    return path;
}

enum class Switch {
    Exit,
    Topmost,
    Create,
    Ask,
    Japanese,
    English,
    Config,
    Machine,
    K,
    Notify,
    None
};

// Table order matters: the first row that matches wins, so "CFG=" is tried before "K".
struct SwitchRow {
    const char* name;
    size_t compared; // 0: the whole name must match
    Switch which;
};

constexpr SwitchRow SwitchTable[] = {
    {"EXIT", 0, Switch::Exit},      {"TOPMOST", 0, Switch::Topmost},
    {"CREATE", 0, Switch::Create},  {"JP", 0, Switch::Japanese},
    {"US", 0, Switch::English},     {"CFG=", 4, Switch::Config},
    {"MDF=", 4, Switch::Machine},   {"K", 1, Switch::K},
    {"NOTIFY=", 7, Switch::Notify}, {"ASK", 0, Switch::Ask},
};

Switch classify(const char* name, size_t& valueAt) {
    for (const SwitchRow& row : SwitchTable) {
        const size_t n = row.compared ? row.compared : std::strlen(row.name) + 1;
        if (row.compared && std::strlen(name) < row.compared)
            continue;
        if (sameNoCase(name, row.name, n)) {
            valueAt = row.compared;
            return row.which;
        }
    }
    return Switch::None;
}

} // namespace

std::string StripArgumentQuotes(const std::string& text) {
    const size_t first = text.find('"');
    if (first == std::string::npos)
        return text;
    const size_t last = text.rfind('"');
    if (last == first)
        return text;
    return text.substr(first + 1, last - first - 1);
}

std::string ResolveArgumentPath(const std::string& text, const std::string& baseFolder) {
    if (text.empty() || isSeparator(text[0]) || (text.size() > 1 && text[1] == ':'))
        return text;
    if (baseFolder.empty())
        return text;
    if (isSeparator(baseFolder.back()))
        return baseFolder + text;
    return baseFolder + '/' + text;
}

StartupOptions ReadStartupOptions(const char* commandLine, const StartupEnvironment& env) {
    StartupOptions out;

    // A path value: quotes off, made absolute, refused (keeping what was there) when too long.
    auto takePath = [&](std::string& target, const std::string& value, const char* token) {
        std::string path = ResolveArgumentPath(StripArgumentQuotes(value), env.baseFolder);
        if (path.size() > StartupPathMax) {
            out.Refused.emplace_back(token);
            return;
        }
        target = std::move(path);
    };

    char token[ArgumentTokenSize];
    const char* cursor = commandLine ? commandLine : "";
    for (;;) {
        const int length = WexNextArgument(cursor, token, ArgumentTokenSize);
        if (length <= 0)
            break;
        if (length >= ArgumentTokenSize) {
            out.Refused.emplace_back(token);
            continue;
        }

        if (IsSwitchArgument(token, env.slashRootedPaths)) {
            const char* name = token + 1;
            size_t at = 0;
            switch (classify(name, at)) {
            case Switch::Exit:
                out.flags.Exit = true;
                break;
            case Switch::Topmost:
                out.flags.Topmost = true;
                break;
            case Switch::Create:
                out.flags.Create = true;
                break;
            case Switch::Ask:
                out.flags.Ask = true;
                break;
            case Switch::Japanese:
                out.flags.ForceJapanese = true;
                break;
            case Switch::English:
                out.flags.ForceEnglish = true;
                break;
            case Switch::Config:
                takePath(out.ConfigPath, name + at, token);
                break;
            case Switch::Machine:
                takePath(out.MachinePath, name + at, token);
                break;
            case Switch::K: {
                // The quotes come off before the '.' test: "/K"my shop"" means my shop.cfg,
                // not a name whose ".cfg" falls outside the quotes.
                std::string value = StripArgumentQuotes(name + at);
                if (value.find('.') == std::string::npos)
                    value += ".cfg";
                takePath(out.ConfigPath, value, token);
                break;
            }
            case Switch::Notify: {
                unsigned int id = 0;
                out.NotifyWindow = std::sscanf(name + at, "%8x", &id) == 1 ? id : 0;
                break;
            }
            case Switch::None:
                break;
            }
            continue;
        }

        if (out.Queue.Count >= SendQueueCapacity)
            continue;
        const std::string path = ResolveArgumentPath(StripArgumentQuotes(token), env.baseFolder);
        if (path.empty())
            continue; // "" names no file
        if (path.size() > QueueNameMax) {
            out.Refused.emplace_back(token);
            continue;
        }
        SendQueueEntry& entry = out.Queue.Entries[out.Queue.Count++];
        std::memcpy(entry.Name, path.c_str(), path.size() + 1);
        entry.Size = 0;
        // Looked up under the name the send will open, so quotes and a relative name do not
        // make a file that exists count as empty.
        if (env.fileSize)
            if (const std::optional<uint64_t> size = env.fileSize(path))
                entry.Size = static_cast<uint32_t>(*size);
    }

    const std::string stem = stemOf(env.executablePath);
    // The interface language is settled later (it may follow the desktop); this is the manual
    // for the language the command line forces, English otherwise.
    out.HelpFilePath = LocateHelpFile(
        env.executablePath, ForcedLanguage(out.flags).value_or(Language::English), env.fileExists);

    // A portable install opts in by keeping its configuration beside the executable.
    const std::string besideExecutable = stem + ".cfg";
    if ((env.fileExists && env.fileExists(besideExecutable)) || env.defaultConfigPath.empty())
        out.ConfigFilePath = besideExecutable;
    else
        out.ConfigFilePath = env.defaultConfigPath;
    if (!out.ConfigPath.empty() && env.fileExists && env.fileExists(out.ConfigPath))
        out.ConfigFilePath = out.ConfigPath;

    return out;
}

std::optional<Language> ForcedLanguage(const StartupFlags& flags) {
    if (flags.ForceJapanese)
        return Language::Japanese;
    if (flags.ForceEnglish)
        return Language::English;
    return std::nullopt;
}

bool ShouldReadMachineFile(const std::string& machinePath, const FileExistsCheck& fileExists) {
    return !machinePath.empty() && fileExists && fileExists(machinePath);
}

} // namespace corvane
