// The command line on any text, with file lookups that answer from the name alone: the queue
// never holds more than it can, every name fits its entry, paths stay within their limit. And
// arguments a shell has split, joined into one line, split back into as many tokens.

#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "app/StartupOptions.h"
#include "support/ArgumentTokens.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

// Stable answers from the name, so a run repeats.
uint32_t nameHash(const std::string& path) {
    uint32_t h = 2166136261u;
    for (unsigned char c : path)
        h = (h ^ c) * 16777619u;
    return h;
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> tokens;
    char token[ArgumentTokenSize];
    const char* cursor = line.c_str();
    for (;;) {
        const int length = WexNextArgument(cursor, token, ArgumentTokenSize);
        if (length <= 0)
            break;
        FUZZ_CHECK(length <= ArgumentTokenSize);
        FUZZ_CHECK(std::strlen(token) < static_cast<size_t>(ArgumentTokenSize));
        tokens.emplace_back(token);
    }
    return tokens;
}

bool plainArgument(const std::string& arg) {
    return arg.find_first_of(" \t\r\n\"") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t flags = in.byte();
    const std::string commandLine(in.until('\0'));

    StartupEnvironment env;
    env.executablePath = (flags & 1) ? "/opt/corvane/bin/corvane" : "corvane";
    env.baseFolder = (flags & 2) ? "/home/ann/nc" : ((flags & 4) ? "/" : "");
    env.defaultConfigPath = (flags & 8) ? "/home/ann/.config/corvane/corvane.cfg" : "";
    env.slashRootedPaths = (flags & 16) != 0;
    env.fileSize = [](const std::string& path) -> std::optional<uint64_t> {
        const uint32_t h = nameHash(path);
        if (h & 1)
            return std::nullopt;
        return static_cast<uint64_t>(h) << (h & 7);
    };
    env.fileExists = [](const std::string& path) { return (nameHash(path) & 2) != 0; };

    const StartupOptions options = ReadStartupOptions(commandLine.c_str(), env);
    FUZZ_CHECK(options.Queue.Count >= 0 && options.Queue.Count <= SendQueueCapacity);
    for (int i = 0; i < options.Queue.Count; ++i) {
        const std::string name =
            TerminatedField(options.Queue.Entries[i].Name, sizeof options.Queue.Entries[i].Name);
        FUZZ_CHECK(!name.empty());
        FUZZ_CHECK(name.size() <= QueueNameMax);
    }
    FUZZ_CHECK(options.ConfigPath.size() <= StartupPathMax);
    FUZZ_CHECK(options.MachinePath.size() <= StartupPathMax);
    FUZZ_CHECK(!options.ConfigFilePath.empty());
    // Nothing but the command line's own tokens can be refused.
    FUZZ_CHECK(options.Refused.size() <= split(commandLine).size());

    // The rest of the input: arguments as a shell passes them.
    std::vector<std::string> args;
    while (in.remaining() > 0 && args.size() < 40)
        args.emplace_back(in.until('\0'));
    std::vector<const char*> argv;
    size_t named = 0;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
        named += arg.empty() ? 0 : 1;
    }
    const std::string joined = JoinArguments(static_cast<int>(argv.size()), argv.data());
    const std::vector<std::string> tokens = split(joined);
    FUZZ_CHECK(tokens.size() == named);
    size_t t = 0;
    for (const std::string& arg : args) {
        if (arg.empty())
            continue;
        if (plainArgument(arg) && arg.size() < static_cast<size_t>(ArgumentTokenSize))
            FUZZ_CHECK(tokens[t] == arg);
        ++t;
    }
    return 0;
}
