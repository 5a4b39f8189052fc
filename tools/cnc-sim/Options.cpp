#include "Options.h"

#include <cerrno>
#include <cstdlib>
#include <strings.h>

namespace cncsim {

namespace {

std::optional<long> parseNumber(const std::string& text, long min, long max) {
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value < min || value > max)
        return std::nullopt;
    return value;
}

// Walks the argument list; every option that takes a value fetches it through here so that a
// missing value is reported in one wording.
class ArgumentCursor {
public:
    explicit ArgumentCursor(const std::vector<std::string>& args) : m_args(args) {}

    bool atEnd() const { return m_next >= m_args.size(); }
    const std::string& next() { return m_args[m_next++]; }
    std::optional<std::string> value(const std::string& option, std::string& error) {
        if (atEnd()) {
            error = "option " + option + " needs a value";
            return std::nullopt;
        }
        return next();
    }

private:
    const std::vector<std::string>& m_args;
    size_t m_next = 0;
};

bool takeNumber(ArgumentCursor& cursor, const std::string& option, long min, long max, long& target,
                std::string& error) {
    auto text = cursor.value(option, error);
    if (!text)
        return false;
    auto value = parseNumber(*text, min, max);
    if (!value) {
        error = "option " + option + ": '" + *text + "' is not a number from " +
                std::to_string(min) + " to " + std::to_string(max);
        return false;
    }
    target = *value;
    return true;
}

bool takeRate(ArgumentCursor& cursor, const std::string& option, unsigned& target,
              std::string& error) {
    long value = 0;
    if (!takeNumber(cursor, option, 0, 1'000'000, value, error))
        return false;
    target = unsigned(value);
    return true;
}

bool takeCode(ArgumentCursor& cursor, const std::string& option, bool noneAllowed, int& target,
              std::string& error) {
    auto text = cursor.value(option, error);
    if (!text)
        return false;
    auto code = parseCode(*text);
    if (!code || (!noneAllowed && *code == kNoCode)) {
        error = "option " + option + ": '" + *text + "' is not a code (0x00 to 0xFF or DC1..DC4" +
                (noneAllowed ? ", or none)" : ")");
        return false;
    }
    target = *code;
    return true;
}

template <typename T> struct Choice {
    const char* name;
    T value;
};

// A value that is one of a few names; a wrong one is answered with all of them, in order.
template <typename T, size_t N>
bool takeChoice(ArgumentCursor& cursor, const std::string& option, const Choice<T> (&choices)[N],
                T& target, std::string& error) {
    auto text = cursor.value(option, error);
    if (!text)
        return false;
    for (const Choice<T>& choice : choices) {
        if (*text == choice.name) {
            target = choice.value;
            return true;
        }
    }
    std::string names = choices[0].name;
    for (size_t i = 1; i < N; ++i)
        names += std::string(i + 1 == N ? " or " : ", ") + choices[i].name;
    error = "option " + option + ": '" + *text + "' is not " + names;
    return false;
}

// Options both modes share; returns false when `arg` is not one of them.
bool takeCommon(ArgumentCursor& cursor, const std::string& arg, CommonOptions& options,
                std::string& error, bool& handled) {
    handled = true;
    if (arg == "--link") {
        auto v = cursor.value(arg, error);
        if (v)
            options.linkPath = *v;
        return bool(v);
    }
    if (arg == "--record") {
        auto v = cursor.value(arg, error);
        if (v)
            options.recordPath = *v;
        return bool(v);
    }
    if (arg == "--exit-after-ms")
        return takeNumber(cursor, arg, 0, 86'400'000, options.exitAfterMs, error);
    if (arg == "--xon")
        return takeCode(cursor, arg, false, options.xon, error);
    if (arg == "--xoff")
        return takeCode(cursor, arg, false, options.xoff, error);
    if (arg == "-v" || arg == "--verbose") {
        options.verbose = true;
        return true;
    }
    handled = false;
    return true;
}

// The option loop of a mode: the options both modes share, then the mode's own through
// `takeOwn(arg, error)`, which is false for an option the mode does not know. Ends at the first
// error and returns it.
template <typename TakeOwn>
std::string takeOptions(ArgumentCursor& cursor, const char* mode, CommonOptions& common,
                        TakeOwn takeOwn) {
    std::string error;
    while (!cursor.atEnd() && error.empty()) {
        const std::string arg = cursor.next();
        bool handled = false;
        if (!takeCommon(cursor, arg, common, error, handled) || handled)
            continue;
        if (!takeOwn(arg, error))
            error = std::string(mode) + ": unknown option '" + arg + "'";
    }
    return error;
}

std::string parseRead(ArgumentCursor& cursor, ReadOptions& o) {
    auto takeOwn = [&](const std::string& arg, std::string& error) {
        if (arg == "--wait-ms")
            takeNumber(cursor, arg, 0, 3'600'000, o.waitMs, error);
        else if (arg == "--no-start")
            o.sendStart = false;
        else if (arg == "--start-repeat-ms")
            takeNumber(cursor, arg, 0, 3'600'000, o.startRepeatMs, error);
        else if (arg == "--cps")
            takeRate(cursor, arg, o.cps, error);
        else if (arg == "--line-cps")
            takeRate(cursor, arg, o.lineCps, error);
        else if (arg == "--buffer")
            takeNumber(cursor, arg, 1, 1'000'000, o.buffer, error);
        else if (arg == "--high")
            takeNumber(cursor, arg, 1, 1'000'000, o.high, error);
        else if (arg == "--low")
            takeNumber(cursor, arg, 0, 1'000'000, o.low, error);
        else if (arg == "--tolerance")
            takeNumber(cursor, arg, 0, 1'000'000, o.tolerance, error);
        else if (arg == "--hold-random") {
            long seed = 0;
            if (takeNumber(cursor, arg, 0, 0xFFFFFFFFL, seed, error))
                o.holdRandomSeed = unsigned(seed);
        } else if (arg == "--hold-after")
            takeNumber(cursor, arg, 0, 0x7FFFFFFFL, o.holdAfter, error);
        else if (arg == "--hold-ms")
            takeNumber(cursor, arg, 0, 3'600'000, o.holdMs, error);
        else if (arg == "--end-on")
            takeCode(cursor, arg, true, o.endOn, error);
        else if (arg == "--idle-ms")
            takeNumber(cursor, arg, 0, 3'600'000, o.idleMs, error);
        else
            return false;
        return true;
    };
    if (std::string error = takeOptions(cursor, "read", o.common, takeOwn); !error.empty())
        return error;
    if (o.high < 0)
        o.high = o.buffer * 3 / 4 > 0 ? o.buffer * 3 / 4 : 1;
    if (o.low < 0)
        o.low = o.high / 3;
    if (o.high > o.buffer)
        return "read: --high " + std::to_string(o.high) + " is above --buffer " +
               std::to_string(o.buffer);
    if (o.low >= o.high)
        return "read: --low must be below --high";
    if (o.common.xon == o.common.xoff)
        return "read: --xon and --xoff must differ";
    return {};
}

// One option of the punch mode; false when `arg` is not one.
bool takePunchOption(ArgumentCursor& cursor, const std::string& arg, PunchOptions& o,
                     std::string& error) {
    if (arg == "--program") {
        if (auto v = cursor.value(arg, error)) {
            if (o.programPath.empty())
                o.programPath = *v;
            o.programPaths.push_back(*v);
        }
    } else if (arg == "--gaps-ms") {
        if (auto v = cursor.value(arg, error)) {
            size_t start = 0;
            while (error.empty() && start <= v->size()) {
                size_t end = v->find(',', start);
                if (end == std::string::npos)
                    end = v->size();
                const std::string item = v->substr(start, end - start);
                char* rest = nullptr;
                const long ms = std::strtol(item.c_str(), &rest, 10);
                if (item.empty() || *rest != '\0' || ms < 0 || ms > 3'600'000)
                    error = arg + ": '" + *v + "' is not a list of milliseconds";
                else
                    o.gapsMs.push_back(ms);
                start = end + 1;
            }
        }
    } else if (arg == "--random-gaps-ms")
        takeNumber(cursor, arg, 0, 3'600'000, o.randomGapMaxMs, error);
    else if (arg == "--gap-seed") {
        long seed = 0;
        if (takeNumber(cursor, arg, 0, 0xFFFFFFFFL, seed, error))
            o.gapSeed = unsigned(seed);
    } else if (arg == "--repeat")
        takeNumber(cursor, arg, 1, 1'000'000, o.repeat, error);
    else if (arg == "--code") {
        constexpr Choice<TapeCode> codes[] = {
            {"iso", TapeCode::Iso}, {"eia", TapeCode::Eia}, {"ascii", TapeCode::Ascii}};
        takeChoice(cursor, arg, codes, o.code, error);
    } else if (arg == "--line-end") {
        constexpr Choice<LineEnd> ends[] = {
            {"lf", LineEnd::Lf}, {"crlf", LineEnd::CrLf}, {"cr", LineEnd::Cr}};
        takeChoice(cursor, arg, ends, o.lineEnd, error);
    } else if (arg == "--parity") {
        constexpr Choice<Parity> parities[] = {
            {"none", Parity::None}, {"even", Parity::Even}, {"odd", Parity::Odd}};
        takeChoice(cursor, arg, parities, o.parity, error);
    } else if (arg == "--start-code")
        takeCode(cursor, arg, false, o.startCode, error);
    else if (arg == "--no-wait")
        o.waitForStart = false;
    else if (arg == "--leader")
        takeNumber(cursor, arg, 0, 100'000, o.leader, error);
    else if (arg == "--dc2")
        o.dc2 = true;
    else if (arg == "--trailer")
        takeNumber(cursor, arg, 0, 100'000, o.trailer, error);
    else if (arg == "--end-code")
        takeCode(cursor, arg, true, o.endCode, error);
    else if (arg == "--cps")
        takeRate(cursor, arg, o.cps, error);
    else if (arg == "--chunk")
        takeNumber(cursor, arg, 1, 65'536, o.chunk, error);
    else if (arg == "--drain-ms")
        takeNumber(cursor, arg, 0, 3'600'000, o.drainMs, error);
    else if (arg == "--linger-ms")
        takeNumber(cursor, arg, 0, 3'600'000, o.lingerMs, error);
    else
        return false;
    return true;
}

std::string checkPunch(const char* mode, const PunchOptions& o) {
    if (o.programPath.empty())
        return std::string(mode) + ": --program FILE is required";
    if (o.common.xon == o.common.xoff)
        return std::string(mode) + ": --xon and --xoff must differ";
    if (std::string(mode) == "request" && (o.programPaths.size() > 1 || o.repeat > 1))
        return "request: one --program only";
    return {};
}

std::string parsePunch(ArgumentCursor& cursor, PunchOptions& o) {
    auto takeOwn = [&](const std::string& arg, std::string& error) {
        return takePunchOption(cursor, arg, o, error);
    };
    if (std::string error = takeOptions(cursor, "punch", o.common, takeOwn); !error.empty())
        return error;
    return checkPunch("punch", o);
}

// The punch options for the request, and a few read options for the reply. --record records
// the reply only: what the host sends after it opened the device again.
std::string parseRequest(ArgumentCursor& cursor, RequestOptions& o) {
    auto takeOwn = [&](const std::string& arg, std::string& error) {
        if (takePunchOption(cursor, arg, o.punch, error))
            return true;
        if (arg == "--reply-wait-ms")
            takeNumber(cursor, arg, 0, 3'600'000, o.reply.waitMs, error);
        else if (arg == "--reply-no-start")
            o.reply.sendStart = false;
        else if (arg == "--reply-end-on")
            takeCode(cursor, arg, true, o.reply.endOn, error);
        else if (arg == "--reply-idle-ms")
            takeNumber(cursor, arg, 0, 3'600'000, o.reply.idleMs, error);
        else
            return false;
        return true;
    };
    if (std::string error = takeOptions(cursor, "request", o.punch.common, takeOwn); !error.empty())
        return error;
    o.reply.common = o.punch.common;
    o.punch.common.recordPath.clear();
    o.reply.high = o.reply.buffer * 3 / 4;
    o.reply.low = o.reply.high / 3;
    o.reply.afterReopen = true;
    o.punch.endOnReopen = true;
    return checkPunch("request", o.punch);
}

} // namespace

std::optional<int> parseCode(const std::string& text) {
    struct Named {
        const char* name;
        int code;
    };
    constexpr Named kNames[] = {{"none", kNoCode}, {"NUL", 0x00}, {"DC1", 0x11},  {"XON", 0x11},
                                {"DC2", 0x12},     {"DC3", 0x13}, {"XOFF", 0x13}, {"DC4", 0x14}};
    for (const auto& named : kNames)
        if (strcasecmp(text.c_str(), named.name) == 0)
            return named.code;
    auto value = parseNumber(text, 0, 0xFF);
    if (!value)
        return std::nullopt;
    return int(*value);
}

ParsedOptions parseOptions(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    if (args.empty()) {
        parsed.error = "a mode is needed: read, punch or request";
        return parsed;
    }
    const std::string& mode = args.front();
    std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const auto& arg : rest)
        if (arg == "-h" || arg == "--help")
            return parsed; // Mode::Help
    ArgumentCursor cursor(rest);
    if (mode == "-h" || mode == "--help" || mode == "help") {
        parsed.mode = Mode::Help;
    } else if (mode == "read") {
        parsed.mode = Mode::Read;
        parsed.error = parseRead(cursor, parsed.read);
    } else if (mode == "punch") {
        parsed.mode = Mode::Punch;
        parsed.error = parsePunch(cursor, parsed.punch);
    } else if (mode == "request") {
        parsed.mode = Mode::Request;
        parsed.error = parseRequest(cursor, parsed.request);
    } else {
        parsed.error = "unknown mode '" + mode + "' (read, punch or request)";
    }
    return parsed;
}

std::string usageText() {
    return R"(usage: cnc-sim read  [options]   the machine reads a program the host sends
       cnc-sim punch --program FILE [options]   the machine punches a program to the host
       cnc-sim request --program FILE [options] the machine punches a request program, then
                                                reads what the host sends back

A simulated CNC machine tool on a pseudo-terminal. The first line on stdout names the device
("device /dev/pts/N"); a summary line follows when the run ends.
Codes are given as 0x11, 17, DC1..DC4, XON, XOFF, NUL, or none where allowed.

Both modes:
  --link PATH           place a symlink to the device at PATH (removed at exit)
  --record FILE         write every byte received from the host to FILE, as it arrived
  --xon CODE            flow-control "go on" code (default 0x11)
  --xoff CODE           flow-control "hold" code (default 0x13)
  --exit-after-ms N     give up after N ms (exit status 1); default: no limit
  -v, --verbose         report events on stderr

read mode:
  --wait-ms N           after the host opens the device, wait N ms before the start code
                        (default 200)
  --no-start            do not send the start code (the --xon code)
  --start-repeat-ms N   send the start code again every N ms until data arrives
  --cps N               the control executes its buffer at N characters per second
                        (default 0: at once, so the line is never held)
  --line-cps N          take at most N characters per second off the line (default: on arrival)
  --buffer N            buffer size in characters (default 256)
  --high N              send the --xoff code when the buffer holds N (default 3/4 of buffer)
  --low N               send the --xon code when it is down to N (default a third of high)
  --tolerance N         characters accepted after the --xoff code before the overflow alarm
                        (default 10)
  --hold-random SEED    also hold the line at random moments for short random times
  --hold-after N        also hold the line once, when N characters have come, for
                        --hold-ms (a fixed pause of the control, e.g. a tool change)
  --hold-ms N           length of the --hold-after hold (default 10000)
  --end-on CODE|none    the code that ends the program (default 0x14, DC4)
  --idle-ms N           end when no data came for N ms after data started, the line not
                        held meanwhile (default: never)

punch mode:
  --program FILE        the program text to punch (required)
  --code iso|eia|ascii  character code on the line (default iso)
  --line-end lf|crlf|cr line end for iso and ascii (default lf); eia ends blocks with 0x80
  --parity none|even|odd  parity bit 7 for iso and ascii (default none)
  --start-code CODE     wait for this code from the host before punching (default 0x11)
  --no-wait             punch at once (a host that empties its input when it opens the
                        port loses what came before)
  --leader N            N NUL characters before the program (default 0)
  --dc2                 send DC2 (0x12) after the leader
  --trailer N           N NUL characters after the program (default 0)
  --end-code CODE|none  sent after the trailer (default 0x14, DC4)
  --cps N               punch at N characters per second (default: as fast as the host reads)
  --chunk N             without --cps, write up to N characters at a time (default 1); an
                        XOFF then stops the output within N characters (for soak runs)
  --drain-ms N          time the host gets to read the last characters (default 2000)
  --linger-ms N         keep listening to the host N ms after the output (default 0)
  --program FILE ...    given more than once: the programs are punched one after the
                        other, each with its leader, trailer and end code, without waiting
                        for the start code again
  --gaps-ms A,B,...     pause A ms before the second program, B before the third ...; the
                        last pause repeats (default 0)
  --random-gaps-ms N    pause a random 0..N ms before each program after the first
  --gap-seed N          seed of those random pauses (default 1)
  --repeat N            punch the list of programs N times over (default 1)

request mode (an operator asking the host for a program from the control):
  the punch options above for the request program, then the machine reads on the same
  line what the host sends; the DC1 and DC3 the host sends before the reply starts belong to
  its receive of the request and are not part of it; --record records only the reply.
  --reply-wait-ms N     as --wait-ms of read mode, for the reply (default 200)
  --reply-no-start      do not send the start code for the reply
  --reply-end-on CODE|none  the code that ends the reply (default 0x14, DC4)
  --reply-idle-ms N     end the reply after N ms without data (default: never)

Exit status: 0 ok, 1 alarm or failure, 2 usage error.
)";
}

} // namespace cncsim
