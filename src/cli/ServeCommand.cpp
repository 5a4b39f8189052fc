// corvane-cli serve: one machine line served unattended (automatic receive, remote requests,
// the transfer journal). The service itself lives in the core; this file reads the options and
// the line file, and turns SIGTERM / SIGINT into a stop.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "ServeCommand.h"
#include "ServeShop.h"
#include "TerminalHost.h"
#include "TransferCommands.h"
#include "serve/LineFile.h"
#include "serve/LineService.h"
#include "serve/SystemdNotifier.h"
#include "support/Clock.h"
#include "support/IniFile.h"
#include "support/ProgramDiff.h"
#include "transfer/PosixSerialLine.h"

namespace corvane::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* ServeUsage =
    "usage: corvane-cli [--cfg FILE] serve [-m MACHINE.MDF] [-p PORT] [--name NAME]\n"
    "                   [--inbox DIR] [--library DIR] [--journal FILE]\n"
    "                   [--request-delay-ms N] [--scan-lines N] [--retry-ms N] [--no-pace]\n"
    "                   [-v | --verbose] [--compare-ignore WORDS]\n"
    "                   [--broker URL] [LINE.ini]\n"
    "\n"
    "Serves one machine line unattended, until stopped with SIGTERM or Ctrl-C:\n"
    "  * every program the machine punches is filed in the inbox under its program number\n"
    "    (O0012.NC); an older file of that name is kept as O0012.NC.~1~, and a receive that\n"
    "    fails goes to failed/ under a time-stamped name;\n"
    "  * a program whose first lines hold (REQ=NAME) or (PRG=NAME) asks for the library\n"
    "    program NAME, which is sent after the request delay; (PRG=DIRLIST) lists the library;\n"
    "  * a program filed under a name the library (or the inbox) already has is compared with\n"
    "    that version; one that differs leaves NAME.diff beside it; a program whose first\n"
    "    lines hold (CMP=NAME) is only compared with the library's NAME and answered with\n"
    "    (SAME AS NAME) or (DIFFERS FROM NAME AT LINE n);\n"
    "  * every transfer is one JSON line in the journal and one line in the log.\n"
    "One service per inbox: a second one started on the same inbox is refused, naming the\n"
    "first one's pid.\n"
    "LINE.ini has one section [Line] with Name, Machine, Port, Inbox, Library, Journal,\n"
    "RequestDelay (ms, default 3000), ScanLines (default 5), Verbose (0 or 1) and\n"
    "CompareIgnore; relative paths there are taken from the file's folder, and the options\n"
    "here take precedence.\n"
    "  -m MACHINE.MDF        the machine definition\n"
    "  -p PORT               the serial device (default: the machine's port)\n"
    "  --name NAME           the line's name in log lines, records and file names\n"
    "  --inbox DIR           where received programs are filed (created when missing)\n"
    "  --library DIR         where requested programs are looked up\n"
    "  --journal FILE        the journal (default: INBOX/journal.jsonl)\n"
    "  --request-delay-ms N  the pause before a request is answered\n"
    "  --scan-lines N        how many lines are searched for the number and the request\n"
    "  --retry-ms N          how often a port that cannot be opened is tried (default 5000)\n"
    "  --compare-ignore WORDS  what a comparison sets aside: comments, blank-lines, spaces\n"
    "                        (separated by commas; default none)\n"
    "  --no-pace             on a pseudo-terminal, send as fast as the far end reads\n"
    "  -v, --verbose         log the transfers' own lines too, and every block as the\n"
    "                        configuration's Echo says (by default one line per transfer)\n"
    "  --broker URL          report state and records to the shop's MQTT broker and take\n"
    "                        its commands (mqtt://HOST:PORT or mqtts://HOST:PORT); the line\n"
    "                        file's keys Broker, BrokerCa, BrokerUser, BrokerPasswordFile\n"
    "                        and TopicPrefix say the same there\n"
    "\n"
    "exit status: 0 stopped, 2 usage error, 3 a named file or folder cannot be used\n";

struct ServeOptions {
    TransferOptions transfer; // -m, -p, --no-pace
    std::string name;
    std::string inbox;
    std::string library;
    std::string journal;
    std::string requestDelay;
    std::string scanLines;
    std::string retry;
    std::optional<std::string> compareIgnore;
    shop::ShopSettingsText broker; // --broker and the line file's Broker keys
    std::string lineFile;
    bool verbose = false;    // -v
    std::string verboseText; // the line file's Verbose
    bool help = false;
};

// A path from the line file is taken from the file's folder; from the command line, from the
// current folder.
std::string resolved(const std::string& path, const fs::path& base) {
    if (path.empty())
        return path;
    const fs::path p(path);
    return namedPath(p.is_absolute() ? p.string() : (base / p).string());
}

bool parseCount(const std::string& text, long max, long& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || n < 0 || n > max)
        return false;
    value = n;
    return true;
}

int parseServeOptions(const CliContext& context, CliArguments arguments, ServeOptions& options) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (isHelpOption(argument)) {
            options.help = true;
            continue;
        }
        if (argument == "-v" || argument == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (argument == "--no-pace") {
            options.transfer.noPace = true;
            continue;
        }
        std::string compareIgnore;
        const OptionTaken taken = takeValueOption(arguments, i,
                                                  {{"-m", &options.transfer.machineFile},
                                                   {"-p", &options.transfer.port},
                                                   {"--name", &options.name},
                                                   {"--inbox", &options.inbox},
                                                   {"--library", &options.library},
                                                   {"--journal", &options.journal},
                                                   {"--request-delay-ms", &options.requestDelay},
                                                   {"--scan-lines", &options.scanLines},
                                                   {"--retry-ms", &options.retry},
                                                   {"--broker", &options.broker.broker},
                                                   {"--compare-ignore", &compareIgnore}});
        if (taken == OptionTaken::ValueMissing)
            return fail(context, ExitUsage, argument + " needs a value (try --help)");
        if (taken == OptionTaken::Taken) {
            // Given, even empty, it wins over the line file's.
            if (argument == "--compare-ignore")
                options.compareIgnore = compareIgnore;
            continue;
        }
        if (!argument.empty() && argument[0] == '-')
            return fail(context, ExitUsage, "unknown option '" + argument + "' (try --help)");
        if (!options.lineFile.empty())
            return fail(context, ExitUsage, "serve takes one line file (try --help)");
        options.lineFile = argument;
    }
    return ExitSuccess;
}

// The line file's values under the options: an option given wins, paths from the file are
// taken from its folder.
constexpr const char* LineKeys[] = {"Name",        "Machine",  "Port",         "Inbox",
                                    "Library",     "Journal",  "RequestDelay", "ScanLines",
                                    "Broker",      "BrokerCa", "BrokerUser",   "BrokerPasswordFile",
                                    "TopicPrefix", "Verbose",  "CompareIgnore"};

bool sameKey(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Edits (insert, delete, replace) between two short names, ignoring case.
size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// A misspelt key ("Brokr=") would otherwise be ignored without a word, and the line served
// without what the person meant to set.
void warnUnknownKeys(const CliContext& context, const std::string& path, const IniFile& ini) {
    for (const std::string& key : ini.keys("Line")) {
        const auto known = std::find_if(std::begin(LineKeys), std::end(LineKeys),
                                        [&key](const char* k) { return sameKey(key, k); });
        if (known != std::end(LineKeys))
            continue;
        std::string text = path + ": unknown key '" + key + "' in [Line] is ignored";
        for (const char* k : LineKeys)
            if (editDistance(key, k) <= 2) {
                text += " (did you mean " + std::string(k) + "?)";
                break;
            }
        std::fprintf(context.err, "corvane-cli: %s\n", text.c_str());
    }
}

int applyLineFile(const CliContext& context, ServeOptions& options) {
    const fs::path cwd = fs::current_path();
    auto fromOption = [&cwd](std::string& value) { value = resolved(value, cwd); };
    fromOption(options.transfer.machineFile);
    fromOption(options.inbox);
    fromOption(options.library);
    fromOption(options.journal);
    if (options.lineFile.empty())
        return ExitSuccess;

    const std::string path = namedPath(options.lineFile);
    std::string error;
    if (path.empty() || !checkReadableFile(path, &error))
        return fail(context, ExitFile,
                    error.empty() ? options.lineFile + ": path too long" : error);
    IniError iniError;
    const IniFile ini = IniFile::load(path, &iniError);
    if (iniError)
        return fail(context, ExitFile, path + ": " + iniError.message);
    const serve::LineFileRead read = serve::readLineFile(ini);
    if (!read.error.empty())
        return fail(context, ExitUsage, path + ": " + read.error);
    const fs::path base = fs::path(path).parent_path();
    auto take = [&base](const std::string& text, std::string& value, bool isPath) {
        if (value.empty() && !text.empty())
            value = isPath ? resolved(text, base) : text;
    };
    const serve::LineFile& file = read.values;
    take(file.name, options.name, false);
    take(file.machine, options.transfer.machineFile, true);
    take(file.port, options.transfer.port, false);
    take(file.inbox, options.inbox, true);
    take(file.library, options.library, true);
    take(file.journal, options.journal, true);
    take(file.requestDelay, options.requestDelay, false);
    take(file.scanLines, options.scanLines, false);
    take(file.verbose, options.verboseText, false);
    if (!options.compareIgnore && !file.compareIgnore.empty())
        options.compareIgnore = file.compareIgnore;
    take(file.broker, options.broker.broker, false);
    take(file.brokerCa, options.broker.caFile, true);
    take(file.brokerUser, options.broker.user, false);
    take(file.brokerPasswordFile, options.broker.passwordFile, true);
    take(file.topicPrefix, options.broker.topicPrefix, false);
    if (options.name.empty())
        options.name = fs::path(path).stem().string();
    warnUnknownKeys(context, path, ini);
    return ExitSuccess;
}

} // namespace

int runServeCommand(CliContext& context, CliArguments arguments) {
    return runServe(context, arguments, nullptr, nullptr);
}

int runServe(CliContext& context, CliArguments arguments, serve::EventSink* sink,
             serve::CommandSource* commands) {
    ServeOptions options;
    if (const int status = parseServeOptions(context, arguments, options))
        return status;
    if (options.help) {
        std::fputs(ServeUsage, context.out);
        return ExitSuccess;
    }
    if (const int status = applyLineFile(context, options))
        return status;
    if (options.inbox.empty())
        return fail(context, ExitUsage, "serve needs an inbox (--inbox or Inbox=)");
    if (options.library.empty())
        return fail(context, ExitUsage, "serve needs a library (--library or Library=)");

    serve::ServeSettings settings;
    settings.name = options.name.empty() ? "line" : options.name;
    settings.inbox = options.inbox;
    settings.library = options.library;
    settings.journal = options.journal.empty() ? options.inbox + "/journal.jsonl" : options.journal;
    long value = 0;
    if (!options.requestDelay.empty()) {
        if (!parseCount(options.requestDelay, 3'600'000, value))
            return fail(context, ExitUsage,
                        "request delay: not a number of ms: " + options.requestDelay);
        settings.requestDelayMillis = static_cast<uint32_t>(value);
    }
    if (!options.scanLines.empty()) {
        if (!parseCount(options.scanLines, 1000, value) || value < 1)
            return fail(context, ExitUsage,
                        "scan lines: not a number from 1 to 1000: " + options.scanLines);
        settings.scanLines = static_cast<int>(value);
    }
    if (!options.retry.empty()) {
        if (!parseCount(options.retry, 3'600'000, value) || value < 10)
            return fail(context, ExitUsage, "retry: not a number of ms from 10: " + options.retry);
        settings.retryMillis = static_cast<uint32_t>(value);
    }
    settings.verbose = options.verbose;
    if (!options.verbose && !options.verboseText.empty()) {
        if (options.verboseText != "0" && options.verboseText != "1")
            return fail(context, ExitUsage, "Verbose: not 0 or 1: " + options.verboseText);
        settings.verbose = options.verboseText == "1";
    }
    if (options.compareIgnore) {
        std::string word;
        const auto ignore = parseCompareIgnore(*options.compareIgnore, &word);
        if (!ignore)
            return fail(context, ExitUsage,
                        "compare ignore: '" + word +
                            "' is not one of comments, blank-lines, spaces");
        settings.compare = *ignore;
    }
    if (const int status = loadTransferSettings(context, options.transfer, "-i", settings.config,
                                                settings.machine))
        return status;
    if (std::string error = serve::checkServeSettings(settings); !error.empty())
        return fail(context, ExitUsage, error);
    std::unique_ptr<shop::MqttSink> shopSink;
    if (!sink && !commands) {
        if (const int status = openShopSink(context, options.broker, settings.name, shopSink))
            return status;
        if (shopSink)
            shopSink->watchLibrary(settings.library);
        sink = shopSink.get();
        commands = shopSink.get();
    }
    // Under systemd (Type=notify) the manager hears of the start, the state and the watchdog.
    std::unique_ptr<serve::SystemdNotifier> notifier;
    const serve::SystemdEnvironment systemd =
        serve::systemdEnvironment([](const char* name) { return std::getenv(name); }, getpid());
    if (!systemd.notifySocket.empty()) {
        notifier = std::make_unique<serve::SystemdNotifier>(
            systemd, [] { return WexGetTickCount64(); }, sink);
        if (!notifier->error().empty())
            std::fprintf(context.err, "corvane-cli: warning: %s\n", notifier->error().c_str());
        sink = notifier.get();
    }

    signal(SIGPIPE, SIG_IGN); // a closed log reader must not stop the line
    TransferState hostState;  // the terminal host's own view; the service keeps the real one
    TerminalHost terminal(
        hostState,
        TerminalLanguage(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")),
        false, {});
    terminal.catchInterrupts();

    serve::ServeEnvironment environment;
    environment.stopRequested = [&terminal] { return terminal.interruptCount() > 0; };
    environment.sink = sink;
    environment.commands = commands;
    serve::LineService service(std::move(settings), terminal,
                               DefaultLineOpener(lineOptionsFor(options.transfer)),
                               std::move(environment));
    if (std::string error = service.prepare(); !error.empty())
        return fail(context, ExitFile, error);
    service.run();
    if (notifier)
        notifier->stopping();
    if (shopSink)
        shopSink->finish(2000); // what the broker has not yet had, then "offline"
    return ExitSuccess;
}

} // namespace corvane::cli
