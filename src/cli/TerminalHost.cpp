#include "TerminalHost.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "settings/MachineDef.h"
#include "support/Clock.h"
#include "support/StringIds.h"
#include "transfer/LineInput.h"

namespace corvane::cli {

namespace {

// A signal handler reaches the program only through process-wide variables; these two are the
// whole of it, written by the handler and read by the host that installed it.
volatile sig_atomic_t g_interruptPresses = 0;
int g_wakePipe[2] = {-1, -1};

constexpr uint64_t ProgressIntervalMicros = 100000;
constexpr uint64_t LogFlushMicros = 100000;
constexpr int BarWidth = 20;

// Second Ctrl-C: the user wants out now, not after the next held byte clears. _exit is one of
// the few calls allowed here. Nothing needs restoring first: this program never changes the
// modes of the terminal the user types in (the line settings belong to the serial port's own
// descriptor, which the kernel closes, dropping the exclusive lock; the next transfer sets
// every line setting again), and a receive target is flushed after every line stored from a
// serial line (from a device file at least every tenth of a second), so the lines already
// shown are on disk.
extern "C" void onInterruptSignal(int) {
    const int savedErrno = errno;
    g_interruptPresses = g_interruptPresses + 1;
    if (g_interruptPresses >= 2) {
        static const char note[] = "\ncorvane-cli: stopped at once\n";
        [[maybe_unused]] ssize_t n = write(STDERR_FILENO, note, sizeof note - 1);
        _exit(1);
    }
    if (g_wakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = write(g_wakePipe[1], &byte, 1);
    }
    errno = savedErrno;
}

// The text of a printf format up to its first conversion: "==== %s ====" gives "==== ".
std::string formatPrefix(const char* format) {
    const char* percent = std::strchr(format, '%');
    return percent ? std::string(format, static_cast<size_t>(percent - format)) : format;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return !prefix.empty() && text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

TerminalHost::TerminalHost(TransferState& state, Language language, bool quiet,
                           std::string deviceFile)
    : m_state(state), m_language(language), m_quiet(quiet), m_deviceFile(std::move(deviceFile)),
      m_progressTerminal(!quiet && isatty(STDERR_FILENO) == 1),
      m_stdoutTerminal(isatty(STDOUT_FILENO) == 1),
      m_closingPrefix(formatPrefix(text(IDS_FMT_CLOSING))),
      m_headerPrefix(formatPrefix(text(IDS_FMT_FILE_HEADER))),
      m_filePrefix(formatPrefix(text(IDS_FMT_FILE_PATH))) {}

TerminalHost::~TerminalHost() {
    std::fflush(stdout);
    clearProgress();
    if (m_catching) {
        struct sigaction deflt {};
        deflt.sa_handler = SIG_DFL;
        sigemptyset(&deflt.sa_mask);
        sigaction(SIGINT, &deflt, nullptr);
        sigaction(SIGTERM, &deflt, nullptr);
        close(g_wakePipe[0]);
        close(g_wakePipe[1]);
        g_wakePipe[0] = g_wakePipe[1] = -1;
    }
}

bool TerminalHost::catchInterrupts() {
    if (m_catching)
        return true;
    g_interruptPresses = 0;
    const bool piped = pipe2(g_wakePipe, O_NONBLOCK | O_CLOEXEC) == 0;
    if (!piped)
        g_wakePipe[0] = g_wakePipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocking read or poll returns at once on Ctrl-C
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    m_catching = true;
    return piped;
}

int TerminalHost::interruptCount() const {
    return g_interruptPresses;
}

bool TerminalHost::isClosingLine(const std::string& text) {
    if (startsWith(text, m_filePrefix))
        return true;
    return startsWith(text, m_closingPrefix) && !startsWith(text, m_headerPrefix);
}

void TerminalHost::printLine(const std::string& text) {
    if (m_stdoutTerminal)
        clearProgress(); // the line goes where the progress line is; make room first
    const size_t end = text.find('\n');
    std::fwrite(text.data(), 1, end == std::string::npos ? text.size() : end, stdout);
    std::fputc('\n', stdout);
    // A person at a terminal sees every line as it comes. A pipe or a file gets them a tick
    // at a time (a device file moves thousands of blocks a second), and before every wait and
    // every closing line, so a script reading along is never more than a tick behind.
    m_logPending = true;
    if (m_stdoutTerminal || isClosingLine(text))
        flushLog();
    else
        flushLogIfDue();
    m_progressDirty = true;
}

void TerminalHost::flushLog() {
    std::fflush(stdout);
    m_logPending = false;
    m_lastLogFlush = nowMicros();
}

void TerminalHost::flushLogIfDue() {
    if (m_logPending && nowMicros() - m_lastLogFlush >= LogFlushMicros)
        flushLog();
}

void TerminalHost::logPrint(int, const std::string& text) {
    m_flowLine.clear();
    if (!text.empty() && text[0] == '\f')
        return; // the pane empties itself; a terminal keeps its scroll-back
    if (m_quiet && !isClosingLine(text))
        return;
    printLine(text);
    serviceMessages();
}

void TerminalHost::logShowFlow(const std::string& text) {
    if (text == m_flowLine)
        return; // a hold tested again and again is shown once, as in the pane
    m_flowLine = text;
    if (!m_quiet)
        printLine(text);
    serviceMessages();
}

void TerminalHost::setStatusText(int part, const std::string& text) {
    if (part < 0 || part > 3 || m_status[part] == text)
        return;
    m_status[part] = text;
    m_progressDirty = true;
}

void TerminalHost::setFrameTitle(int, const char* file, bool) {
    const bool active = file && *file;
    if (!active) {
        clearProgress();
        for (auto& s : m_status)
            s.clear();
    }
    m_active = active;
    m_progressDirty = true;
}

void TerminalHost::progressShow(bool visible) {
    m_barVisible = visible;
    m_progressDirty = true;
}

void TerminalHost::progressRange(uint32_t total) {
    m_total = total;
    m_progressDirty = true;
}

void TerminalHost::progressPos(uint32_t position) {
    m_position = position;
    m_progressDirty = true;
}

bool TerminalHost::selectDeviceFile(bool receive, MachineDef& machine, std::string& path) {
    if (m_deviceFile.empty()) {
        showError(receive ? "the machine's device is a file: name the file to read with -i FILE"
                          : "the machine's device is a file: name the file to write with -o FILE");
        return false;
    }
    path = m_deviceFile;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    std::snprintf(machine.config.DefDir, sizeof machine.config.DefDir, "%s", folder.c_str());
    return true;
}

// Message-box texts put the detail (a path) after an empty line; in a terminal it goes on an
// indented line of its own.
void TerminalHost::showError(const std::string& text) {
    std::fflush(stdout);
    clearProgress();
    std::string out;
    bool newline = false;
    for (char c : text) {
        if (c == '\n') {
            newline = true;
            continue;
        }
        if (newline) {
            out += "\n  ";
            newline = false;
        }
        out += c;
    }
    std::fprintf(stderr, "corvane-cli: %s\n", out.c_str());
    std::fflush(stderr);
    m_progressDirty = true;
}

void TerminalHost::drainWakePipe() {
    if (g_wakePipe[0] >= 0) {
        char buffer[16];
        while (read(g_wakePipe[0], buffer, sizeof buffer) > 0) {
        }
    }
}

// The engines pump after every character of a receive and every block of a send, so this
// costs no system call unless Ctrl-C was pressed since the last look.
void TerminalHost::serviceMessages() {
    const int presses = g_interruptPresses;
    if (presses != m_pressesDrained) {
        drainWakePipe();
        m_pressesDrained = presses;
    }
    if (presses > 0 && m_state.InterruptRequest == 0)
        m_state.InterruptRequest = 1;
    flushLogIfDue();
    drawProgress(false);
}

void TerminalHost::idle(uint64_t micros) {
    if (m_logPending)
        flushLog();
    const timespec wait = MicrosToTimespec(micros);
    // The pipe was drained by the last pump, so this blocks until the next Ctrl-C or the end of
    // the slice, also after an interrupt while the engine finishes its pauses.
    if (g_wakePipe[0] >= 0) {
        pollfd wake{g_wakePipe[0], POLLIN, 0};
        // A byte the last pump missed (the handler writes it just after counting) is taken
        // out here, or every later wait would end at once.
        if (ppoll(&wake, 1, &wait, nullptr) > 0 && (wake.revents & POLLIN))
            drainWakePipe();
    } else {
        nanosleep(&wait, nullptr);
    }
    serviceMessages();
}

uint64_t TerminalHost::nowMicros() {
    return WexGetTickCount64();
}

const char* TerminalHost::text(int id) {
    return WexLoadString(m_language, id);
}

int TerminalHost::terminalWidth() const {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// "[#######-------------]  35%  #12  1M 5S  Xoff  G01X10.Y5." — the bar only while a send
// shows it; the block text last, cut to the width so the line never wraps.
std::string TerminalHost::progressText(int width) const {
    std::string line;
    if (m_barVisible && m_total > 0) {
        const uint64_t position = std::min(m_position, m_total);
        const int filled = static_cast<int>(position * BarWidth / m_total);
        line += '[';
        line.append(static_cast<size_t>(filled), '#');
        line.append(static_cast<size_t>(BarWidth - filled), '-');
        char percent[16];
        std::snprintf(percent, sizeof percent, "] %3d%%",
                      static_cast<int>(position * 100 / m_total));
        line += percent;
    }
    auto add = [&line](const std::string& part) {
        if (part.empty())
            return;
        if (!line.empty())
            line += "  ";
        line += part;
    };
    if (!m_status[2].empty())
        add("#" + m_status[2]);
    add(m_status[3]);
    add(m_status[1]);
    add(m_status[0]);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' '; // a block may carry a tab or a stray control code; the terminal must not act
                     // on it
    if (static_cast<int>(line.size()) > width - 1)
        line.resize(static_cast<size_t>(std::max(width - 1, 0)));
    return line;
}

void TerminalHost::drawProgress(bool force) {
    if (!m_progressTerminal || !m_active || !m_progressDirty)
        return;
    const uint64_t now = nowMicros();
    if (!force && m_progressShown && now - m_lastDraw < ProgressIntervalMicros)
        return;
    const std::string line = progressText(terminalWidth());
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    m_progressShown = true;
    m_progressDirty = false;
    m_lastDraw = now;
}

void TerminalHost::clearProgress() {
    if (!m_progressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_progressShown = false;
}

Language TerminalLanguage(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value && *value)
            return std::strncmp(value, "ja", 2) == 0 ? Language::Japanese : Language::English;
    }
    return Language::English;
}

} // namespace corvane::cli
