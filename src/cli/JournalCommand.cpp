// corvane-cli journal verify: checks that journals are as their service wrote them, by the
// chain of digests their records carry.

#include <cstdio>
#include <vector>

#include "CliCommon.h"
#include "serve/JournalChain.h"

namespace corvane::cli {

namespace {

constexpr const char* JournalUsage =
    "usage: corvane-cli journal verify FILE...\n"
    "\n"
    "Checks the chain of the transfer journals given, read in the order given (oldest first,\n"
    "as log rotation left them): every record names the digest of the line before it, so an\n"
    "edited, removed or reordered line breaks the chain where it stands. Journals written\n"
    "before records were chained are reported as unchained, not as broken.\n"
    "\n"
    "exit status: 0 the chain holds (or the journals are unchained), 1 the chain is broken\n"
    "(the first line that breaks it is named), 2 a file cannot be read or usage error\n";

} // namespace

int runJournalCommand(CliContext& context, CliArguments arguments) {
    if (!arguments.empty() && isHelpOption(arguments[0])) {
        std::fputs(JournalUsage, context.out);
        return ExitSuccess;
    }
    if (arguments.empty() || arguments[0] != "verify")
        return fail(context, ExitUsage, "journal takes: verify FILE... (try --help)");
    std::vector<std::string> files(arguments.begin() + 1, arguments.end());
    if (files.empty())
        return fail(context, ExitUsage, "journal verify needs at least one journal file");
    const serve::ChainCheck check = serve::verifyJournals(files);
    for (const std::string& warning : check.warnings)
        std::fprintf(context.err, "corvane-cli: warning: %s\n", warning.c_str());
    switch (check.outcome) {
    case serve::ChainCheck::Outcome::Holds:
    case serve::ChainCheck::Outcome::Unchained:
        std::fprintf(context.out, "%s\n", check.message.c_str());
        return ExitSuccess;
    case serve::ChainCheck::Outcome::Broken:
        std::fprintf(context.out, "broken: %s\n", check.message.c_str());
        return ExitFailure;
    case serve::ChainCheck::Outcome::Unreadable:
        break;
    }
    // A journal that cannot be read proves nothing either way: its own status, not "broken".
    return fail(context, ExitUsage, check.message);
}

} // namespace corvane::cli
