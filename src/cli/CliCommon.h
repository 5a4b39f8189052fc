#pragma once
// What every corvane-cli verb shares: the exit statuses, the options given before or around
// the verb, and the few checks on files named by the user.

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>

namespace corvane::cli {

enum ExitStatus : int {
    ExitSuccess = 0,
    ExitFailure = 1, // the verb ran and did not succeed (e.g. a transfer that stopped)
    ExitUsage = 2,   // the command line itself is wrong; nothing was done
    ExitFile = 3,    // a named file does not exist, cannot be read or cannot be written
};

struct CliContext {
    std::string executablePath;
    std::string configPath; // from --cfg; empty when not given
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

using CliArguments = std::span<const std::string>;

// One verb: "corvane-cli NAME ARGS...". `run` gets the arguments after the name.
struct CliCommand {
    const char* name;
    int (*run)(CliContext& context, CliArguments arguments);
    const char* synopsis; // one or more lines for the overall help, each without a newline
};

// The verbs, each in its own file.
int runMachineCommand(CliContext& context, CliArguments arguments);
int runConfigCommand(CliContext& context, CliArguments arguments);
int runShopCommand(CliContext& context, CliArguments arguments);
int runJournalCommand(CliContext& context, CliArguments arguments);

bool isHelpOption(const std::string& argument);

// The start of a command with verbs: its usage on the output for --help, or on the error
// stream when no verb is given. The status to end with then; nothing when a verb is to run.
std::optional<int> usageAnswer(const CliContext& context, CliArguments arguments,
                               const char* usage);

// An option followed by its value ("--broker URL"), and where the value goes.
struct ValueOption {
    const char* name;
    std::string* value;
};
enum class OptionTaken { No, Taken, ValueMissing };
// When arguments[i] is one of `options`, its value is stored and `i` moves on to it.
OptionTaken takeValueOption(CliArguments arguments, size_t& i,
                            std::initializer_list<ValueOption> options);

// Prints "corvane-cli: message" on the error stream and returns `status`.
int fail(const CliContext& context, int status, const std::string& message);

// A path the user named, made absolute against the current folder. Empty when it is too long
// to be stored (paths are kept in 260-byte buffers and are refused rather than cut).
std::string namedPath(const std::string& path);

// 1 when `path` is an existing, readable file; 0 with the reason in `error` otherwise.
int checkReadableFile(const std::string& path, std::string* error);

// The configuration file: --cfg when given (it must exist), else the default one, which may
// not exist yet. Returns ExitSuccess, or the status to end with after the message is printed.
int resolveConfigFile(const CliContext& context, std::string& path);

} // namespace corvane::cli
