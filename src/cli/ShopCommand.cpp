// corvane-cli shop: the whole shop seen through its broker. Option parsing only; the broker
// work is in the shop library.

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "CliCommon.h"
#include "shop/ShopView.h"
#include "support/Clock.h"

namespace corvane::cli {

namespace {

constexpr const char* ShopUsage =
    "usage: corvane-cli shop status --broker URL [BROKER OPTIONS] [--wait-ms N]\n"
    "       corvane-cli shop send --broker URL [BROKER OPTIONS] [--wait-ms N] [--timeout S] LINE "
    "NAME\n"
    "\n"
    "status  prints one line per served line from the states the broker keeps: state, file,\n"
    "        progress and the last transfer. Collects for N ms (default 1000).\n"
    "send    asks LINE to send the library program NAME and waits for its answer: exit 0\n"
    "        when the program was sent completely, 1 otherwise with the reason. The line\n"
    "        must show a state within N ms (default 3000) and not be offline. The line's\n"
    "        state and the progress are shown on stderr meanwhile; after S seconds without an\n"
    "        answer (default 600) it gives up waiting and exits 1.\n"
    "\n"
    "broker options:\n"
    "  --broker URL          mqtt://HOST[:PORT] or mqtts://HOST[:PORT]\n"
    "  --ca FILE             the CA certificate that signed the broker's (mqtts)\n"
    "  --user NAME           the account on the broker\n"
    "  --password-file FILE  the account's password, on the file's first line\n"
    "  --prefix TEXT         the topic prefix (default corvane/)\n";

struct ShopOptions {
    shop::ShopSettingsText broker;
    int waitMs = -1;
    int64_t timeoutMs = shop::DefaultSendTimeoutMs;
    std::vector<std::string> operands;
};

int parseShopOptions(const CliContext& context, CliArguments arguments, ShopOptions& options) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string waitText;
        std::string timeoutText;
        const OptionTaken taken =
            takeValueOption(arguments, i,
                            {{"--broker", &options.broker.broker},
                             {"--ca", &options.broker.caFile},
                             {"--user", &options.broker.user},
                             {"--password-file", &options.broker.passwordFile},
                             {"--prefix", &options.broker.topicPrefix},
                             {"--wait-ms", &waitText},
                             {"--timeout", &timeoutText}});
        if (taken == OptionTaken::ValueMissing)
            return fail(context, ExitUsage, argument + " needs a value");
        if (taken == OptionTaken::No) {
            if (argument.size() > 1 && argument[0] == '-')
                return fail(context, ExitUsage, "unknown option '" + argument + "' (try --help)");
            options.operands.push_back(argument);
            continue;
        }
        if (argument == "--wait-ms") {
            int value = -1;
            const auto [end, ec] =
                std::from_chars(waitText.data(), waitText.data() + waitText.size(), value);
            if (ec != std::errc() || end != waitText.data() + waitText.size() || value < 0)
                return fail(context, ExitUsage, "--wait-ms needs a number of milliseconds");
            options.waitMs = value;
        }
        if (argument == "--timeout") {
            int64_t seconds = -1;
            const auto [end, ec] = std::from_chars(
                timeoutText.data(), timeoutText.data() + timeoutText.size(), seconds);
            if (ec != std::errc() || end != timeoutText.data() + timeoutText.size() ||
                seconds < 1 || seconds > 7 * 24 * 3600)
                return fail(context, ExitUsage, "--timeout needs a number of seconds (1 or more)");
            options.timeoutMs = seconds * 1000;
        }
    }
    if (options.broker.broker.empty())
        return fail(context, ExitUsage, "shop needs --broker URL");
    return ExitSuccess;
}

int readAccess(const CliContext& context, const ShopOptions& options, shop::ShopAccess& access) {
    shop::ShopSettingsRead read = shop::readShopSettings(options.broker);
    if (!read.error.empty())
        return fail(context, read.fileError ? ExitFile : ExitUsage, read.error);
    for (const std::string& warning : read.warnings)
        std::fprintf(context.err, "corvane-cli: warning: %s\n", warning.c_str());
    access.settings = read.settings;
    access.password = read.password;
    access.nowUs = [] { return WexGetTickCount64(); };
    return ExitSuccess;
}

int showStatus(CliContext& context, const ShopOptions& options) {
    if (!options.operands.empty())
        return fail(context, ExitUsage, "shop status takes no names (try --help)");
    shop::ShopAccess access;
    if (const int status = readAccess(context, options, access); status != ExitSuccess)
        return status;
    const shop::ShopStatusResult result =
        shop::collectShopStatus(access, options.waitMs < 0 ? 1000 : options.waitMs);
    if (!result.error.empty())
        return fail(context, ExitFailure, result.error);
    if (result.lines.empty()) {
        // Nothing at all is as likely a prefix or an access list that hides every line as a
        // shop with none served; an empty output would not tell which question to ask.
        const int waited = options.waitMs < 0 ? 1000 : options.waitMs;
        std::fprintf(context.err,
                     "corvane-cli: no lines seen under %s within %d ms (no line reports to this "
                     "broker under that prefix, or the account may not read %s+/state)\n",
                     access.settings.topicPrefix.c_str(), waited,
                     access.settings.topicPrefix.c_str());
        return ExitSuccess;
    }
    size_t width = 0;
    for (const shop::LineState& line : result.lines)
        width = std::max(width, line.line.size());
    for (const shop::LineState& line : result.lines)
        std::fprintf(context.out, "%s\n", shop::formatLineState(line, width).c_str());
    return ExitSuccess;
}

int sendProgram(CliContext& context, const ShopOptions& options) {
    if (options.operands.size() != 2)
        return fail(context, ExitUsage, "shop send needs LINE and NAME (try --help)");
    shop::ShopAccess access;
    if (const int status = readAccess(context, options, access); status != ExitSuccess)
        return status;
    // The line's state as it changes, and a sending line's progress in tenths, so a person
    // waiting at the terminal sees why nothing is happening yet (a control not in read mode).
    std::string lastState;
    uint64_t lastTenth = 0;
    auto onState = [&](const shop::LineState& state) {
        const uint64_t tenth =
            state.total > 0 ? std::min<uint64_t>(10, state.position * 10 / state.total) : 0;
        // Idle says nothing about this send: it is the line before it, or after its answer.
        if (state.state == "idle") {
            lastState.clear();
            return;
        }
        if (state.state == lastState && (state.state != "sending" || tenth == lastTenth))
            return;
        lastState = state.state;
        lastTenth = tenth;
        shop::LineState shown = state;
        shown.lastResult.clear(); // the last transfer is not this one
        std::string text = shop::formatLineState(shown, 0);
        if (state.state == "held")
            text += "  (waiting for the machine: put the control in read mode)";
        std::fprintf(context.err, "%s\n", text.c_str());
        std::fflush(context.err);
    };
    const shop::ShopSendResult result = shop::sendThroughShop(
        access, options.operands[0], options.operands[1],
        options.waitMs < 0 ? 3000 : options.waitMs, options.timeoutMs, onState);
    if (!result.completed)
        return fail(context, ExitFailure, result.message);
    std::fprintf(context.out, "%s\n", result.message.c_str());
    return ExitSuccess;
}

} // namespace

int runShopCommand(CliContext& context, CliArguments arguments) {
    if (const std::optional<int> status = usageAnswer(context, arguments, ShopUsage))
        return *status;
    ShopOptions options;
    if (const int status = parseShopOptions(context, arguments.subspan(1), options);
        status != ExitSuccess)
        return status;
    if (arguments[0] == "status")
        return showStatus(context, options);
    if (arguments[0] == "send")
        return sendProgram(context, options);
    return fail(context, ExitUsage, "unknown shop command '" + arguments[0] + "' (try --help)");
}

} // namespace corvane::cli
