#pragma once
// The transfer engines' host in a terminal.
//
// Principles of operation: the engines run on the main thread exactly as in the window
// program and call back here for everything they show and for every wait.
//  * Log lines go to stdout, one per line, as the log pane shows them: at once to a terminal,
//    to a pipe or a file at least every tenth of a second and before every wait, so a script
//    can read them while the transfer runs. Quiet mode keeps only the closing lines.
//  * The status parts and the progress bar become one line on stderr, redrawn in place with
//    \r at most a few times a second, and only when stderr is a terminal.
//  * Ctrl-C is the Interrupt command. The signal handler only counts and writes one byte into
//    a self-pipe; idle() sleeps in poll() on that pipe, so a Ctrl-C ends a wait at once, and
//    serviceMessages() turns the count into InterruptRequest. A second Ctrl-C ends the program
//    on the spot (see TerminalHost.cpp).

#include <string>

#include "support/StringTable.h"
#include "transfer/TransferHost.h"
#include "transfer/TransferState.h"

namespace corvane::cli {

// The language of the run from the locale variables (LC_ALL, LC_MESSAGES, LANG; the first
// that is set decides): "ja..." is Japanese, anything else English.
Language TerminalLanguage(const char* lcAll, const char* lcMessages, const char* lang);

class TerminalHost : public TransferHost {
public:
    // `deviceFile`: the file given with -o / -i, the answer when the machine's device is a file.
    TerminalHost(TransferState& state, Language language, bool quiet, std::string deviceFile);
    ~TerminalHost() override;
    TerminalHost(const TerminalHost&) = delete;
    TerminalHost& operator=(const TerminalHost&) = delete;

    // Installs the Ctrl-C handling for the lifetime of this host. False when the self-pipe
    // cannot be made (Ctrl-C then still interrupts, only waits end at their slice).
    bool catchInterrupts();
    // Ctrl-C presses seen so far.
    int interruptCount() const;

    void logPrint(int colour, const std::string& text) override;
    void logShowFlow(const std::string& text) override;
    void setStatusText(int part, const std::string& text) override;
    void setFrameTitle(int direction, const char* file, bool active) override;
    void progressShow(bool visible) override;
    void progressRange(uint32_t total) override;
    void progressPos(uint32_t position) override;
    void notify(uint32_t, uint32_t) override {}
    bool selectDeviceFile(bool receive, MachineDef& machine, std::string& path) override;
    void showError(const std::string& text) override;
    void serviceMessages() override;
    void idle(uint64_t micros) override;
    uint64_t nowMicros() override;
    const char* text(int id) override;

    // Decides which log lines quiet mode keeps; exposed for tests.
    bool isClosingLine(const std::string& text);

private:
    void printLine(const std::string& text);
    void drainWakePipe();
    void flushLog();
    // Log lines written to a pipe or file reach it at least every LogFlushMicros.
    void flushLogIfDue();
    void clearProgress();
    void drawProgress(bool force);
    std::string progressText(int width) const;
    int terminalWidth() const;

    TransferState& m_state;
    Language m_language;
    bool m_quiet;
    std::string m_deviceFile;
    bool m_progressTerminal; // stderr is a terminal: the progress line is drawn
    bool m_stdoutTerminal;   // log lines share the screen with the progress line
    bool m_active = false;   // a transfer is running (between its title and the idle title)
    bool m_progressShown = false;
    bool m_progressDirty = false;
    uint64_t m_lastDraw = 0;
    std::string m_status[4];
    std::string m_flowLine; // the waiting line on show, as the pane keeps it
    bool m_barVisible = false;
    uint32_t m_total = 0;
    uint32_t m_position = 0;
    bool m_catching = false;
    uint64_t m_lastLogFlush = 0;
    bool m_logPending = false; // log lines in stdout's buffer
    int m_pressesDrained = 0;  // Ctrl-C presses whose wake-up bytes have been taken out
    // The closing lines quiet mode keeps, by the start of their formats.
    std::string m_closingPrefix;
    std::string m_headerPrefix;
    std::string m_filePrefix;
};

} // namespace corvane::cli
