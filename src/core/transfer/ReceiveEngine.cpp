#include "transfer/ReceiveEngine.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "support/StringIds.h"
#include "transfer/Port.h"
#include "transfer/SkipFilter.h"
#include "transfer/TapeCode.h"
#include "transfer/TransferContext.h"
#include "transfer/TransferWait.h"
#include "transfer/UserCode.h"

namespace corvane {
namespace {

constexpr int LineCapacity = 1025;   // characters of one stored line before it is cut
constexpr int LineBufferSize = 1028; // room for a full line, the end mark and the terminator
constexpr uint32_t AfterOpenPauseMillis = 100;
constexpr uint32_t EndCodeRetryPauseMillis = 500;
constexpr int EndCodeAttempts = 5;

constexpr int CharTimeOut = -2;
constexpr int CharNothing = -1;

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char* format, ...) {
    char small[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0)
        return {};
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n), '\0');
    va_start(args, format);
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    return out;
}

// The receive as one object, so the steps can share the line buffer and the target without
// globals. Lives for one call of ReceiveNcData.
class ReceiveRun {
public:
    ReceiveRun(TransferContext& ctx, const char* path, const char* storePath)
        : m_ctx(ctx), m_host(ctx.host), m_path(path), m_storePath(storePath) {}

    int run(ReceiveOutcome& outcome);

private:
    enum class DataEnd { Ended, TimedOut, Interrupted, WriteFailed };

    const MachineConfig& config() const { return m_ctx.machine.config; }
    bool echo() const { return m_ctx.config.Echo != 0; }
    bool interrupted() const { return m_ctx.state.InterruptRequest != 0; }
    bool pumpAndCheck() {
        m_host.serviceMessages();
        return interrupted();
    }
    void logCode(const char* label);

    bool createTarget();
    int signalStart();
    std::optional<DataEnd> nextChar(int& c, DataEnd onTimeOut);
    DataEnd waitForData();
    DataEnd readData();
    DataEnd lineEnd(int c);
    bool storeLine(bool showActivity);
    bool flushTargetIfDue();
    void trimTrailingSpaces();
    int signalEnd();
    void sendEndCode();
    bool closeTarget();
    void closingMessage(int result);

    TransferContext& m_ctx;
    TransferHost& m_host;
    const char* m_path;      // named in the log and the title
    const char* m_storePath; // where the lines are written

    std::FILE* m_target = nullptr;
    bool m_deviceFile = false;
    int m_handle = -1;

    char m_line[LineBufferSize] = {};
    int m_length = 0;
    int m_count = 0;
    int m_lastChar = 0;
    int m_writeErrno = 0;
    uint64_t m_lastFlushMicros = 0;
    std::string m_scratch; // reused for every log and status text
};

void ReceiveRun::logCode(const char* label) {
    if (echo())
        m_host.logPrint(LogControl, formatted(m_host.text(IDS_FMT_CODE_LINE), label,
                                              m_host.text(IDS_LABEL_SEND)));
}

bool ReceiveRun::createTarget() {
    m_target = std::fopen(m_storePath, "wb");
    if (!m_target)
        return false;
    std::setvbuf(m_target, nullptr, _IOFBF, 1 << 16);
    return true;
}

// Start code and before user code. A device file stands in for a tape the user picked: nothing
// is written into it, so it reads the same after the receive as before.
int ReceiveRun::signalStart() {
    if (m_deviceFile)
        return ReceiveDone;
    const MachineLine& line = m_ctx.machine.line;
    if (line.PtrStart > 0) {
        const char* label = m_host.text(IDS_LABEL_DC1);
        m_host.setStatusText(StatusActivity, label);
        if (SendTapeChar(m_ctx, m_handle, static_cast<uint8_t>(line.PtrStart & 0xFF), 0) < 0)
            return ReceiveStartCodeFailed;
        logCode(label);
    }
    if (std::strlen(config().PtrUser0) >= 2) {
        m_host.setStatusText(StatusActivity, config().PtrUser0);
        if (SendUserCode(m_ctx, m_handle, config().PtrUser0) < 0)
            return ReceiveStartCodeFailed;
        logCode(m_host.text(IDS_LABEL_USER_CODE));
    }
    return ReceiveDone;
}

// One character off the line into `c`, with the checks every read makes: a time-out, an
// interrupt, and a device file that has nothing more end the read (a time-out as `onTimeOut`).
// Empty while the read goes on; `c` may then be CharNothing.
std::optional<ReceiveRun::DataEnd> ReceiveRun::nextChar(int& c, DataEnd onTimeOut) {
    c = ReceiveTapeChar(m_ctx, m_handle);
    m_lastChar = c;
    if (c == CharTimeOut)
        return onTimeOut;
    if (pumpAndCheck())
        return DataEnd::Interrupted;
    if (c == CharNothing && m_deviceFile)
        return DataEnd::Ended;
    return std::nullopt;
}

// The leader before the data is thrown away; the character that starts the data opens the
// first line.
ReceiveRun::DataEnd ReceiveRun::waitForData() {
    for (;;) {
        int c = CharNothing;
        if (const std::optional<DataEnd> end = nextChar(c, DataEnd::TimedOut))
            return *end;
        if (c == CharNothing)
            continue;
        bool starts;
        if (config().PtrBegin == 1)
            starts = c == '%';
        else
            starts = c == '\n' || c == '%' || c > ' ';
        if (!starts)
            continue;
        if (c != '\n')
            m_line[m_length++] = static_cast<char>(c);
        m_host.setStatusText(StatusBlocks, formatted(m_host.text(IDS_FMT_COUNT), 0));
        return readData();
    }
}

ReceiveRun::DataEnd ReceiveRun::readData() {
    const int eof = config().PtrEof;
    const bool endOnPercent = eof == 1 || eof == 3;
    const bool endOnStop = eof == 2 || eof == 3;
    for (;;) {
        int c = CharNothing;
        // Once the data runs, a silent line is taken as its end.
        if (const std::optional<DataEnd> end = nextChar(c, DataEnd::Ended))
            return *end;
        if (c == CharNothing)
            continue;
        if (c == '%' && endOnPercent) {
            m_line[m_length++] = '%';
            return DataEnd::Ended;
        }
        if (c == m_ctx.machine.line.PtpStop && endOnStop)
            return DataEnd::Ended;
        if (c == ' ' && config().RecvSpace == 0)
            continue;
        if (c == 0)
            continue;
        if (c == '\n' || m_length >= LineCapacity) {
            const DataEnd end = lineEnd(c);
            if (end != DataEnd::Ended)
                return end;
            continue;
        }
        if (c == '\r')
            continue;
        m_line[m_length++] = static_cast<char>(c);
    }
}

// A line feed arrived, or the buffer is full and `c` has to start the next line. Returns
// Ended to read on.
ReceiveRun::DataEnd ReceiveRun::lineEnd(int c) {
    bool store = true;
    if (config().RecvSpace == 1) {
        trimTrailingSpaces();
        store = m_length > 0;
    }
    if (store) {
        if (!storeLine(true))
            return DataEnd::WriteFailed;
        if (pumpAndCheck())
            return DataEnd::Interrupted;
    }
    // The character that overflowed the buffer opens the next line. A CR there would end up
    // inside a stored line, so it is dropped like every other CR.
    if (c != '\n' && c != '\r')
        m_line[m_length++] = static_cast<char>(c);
    return DataEnd::Ended;
}

void ReceiveRun::trimTrailingSpaces() {
    while (m_length > 0 && m_line[m_length - 1] == ' ')
        --m_length;
}

// Passes the line through the skip rules and writes what is left. The buffer is empty
// afterwards either way. False when the target could not be written.
bool ReceiveRun::storeLine(bool showActivity) {
    m_line[m_length] = '\0';
    const int n = ApplySkipRules(m_line, config().ReceiveSkipLine, config().ReceiveSkipCode);
    m_length = 0;
    if (n <= 0)
        return true;
    ++m_count;
    if (echo())
        m_host.logPrint(LogText, formatted(m_host.text(IDS_FMT_RECEIVE_ECHO), m_count, m_line));
    if (showActivity) {
        m_scratch.assign(m_line, static_cast<size_t>(n));
        m_host.setStatusText(StatusActivity, m_scratch);
    }
    // Flushed per line from a serial line: a line takes far longer to arrive than to write,
    // and a receive that is killed, or a disk that fills up, then loses nothing that was
    // already shown as stored. A device file delivers lines as fast as the disk reads; there a
    // write per line would cost more than everything else, so its lines are flushed once a
    // tick, and always at the close.
    if (std::fwrite(m_line, 1, static_cast<size_t>(n), m_target) != static_cast<size_t>(n) ||
        std::fwrite("\r\n", 1, 2, m_target) != 2 || !flushTargetIfDue()) {
        m_writeErrno = errno;
        return false;
    }
    m_host.setStatusText(StatusBlocks, formatted(m_host.text(IDS_FMT_COUNT), m_count));
    return true;
}

bool ReceiveRun::flushTargetIfDue() {
    constexpr uint64_t FlushTickMicros = 100'000;
    if (m_deviceFile) {
        const uint64_t now = m_host.nowMicros();
        if (now - m_lastFlushMicros < FlushTickMicros)
            return true;
        m_lastFlushMicros = now;
    }
    return std::fflush(m_target) == 0;
}

// After user code and end code. Returns the result to keep.
int ReceiveRun::signalEnd() {
    if (m_deviceFile)
        return ReceiveDone;
    int result = ReceiveDone;
    if (std::strlen(config().PtrUser1) >= 2) {
        m_host.setStatusText(StatusActivity, config().PtrUser1);
        if (SendUserCode(m_ctx, m_handle, config().PtrUser1) < 0)
            result = ReceiveAfterCodeFailed;
        logCode(m_host.text(IDS_LABEL_USER_CODE));
    }
    sendEndCode();
    return result;
}

// The end code is a courtesy to the machine: a few tries, then given up without a word.
void ReceiveRun::sendEndCode() {
    const int stop = m_ctx.machine.line.PtrStop;
    if (stop <= 0)
        return;
    for (int attempt = 0; attempt < EndCodeAttempts; ++attempt) {
        if (ComWriteByte(m_ctx, m_handle, static_cast<uint8_t>(stop & 0xFF)) == 0)
            break;
        if (pumpAndCheck())
            break;
        PauseMillis(m_ctx, EndCodeRetryPauseMillis);
    }
    const char* label = m_host.text(IDS_LABEL_DC3);
    logCode(label);
    m_host.setStatusText(StatusActivity, label);
}

// Closes the target and makes sure what was written is really there: a failed final write or
// a target removed while the receive ran must not pass for a completed receive.
bool ReceiveRun::closeTarget() {
    if (!m_target)
        return true;
    bool ok = true;
    struct stat opened {};
    struct stat named {};
    if (std::fflush(m_target) != 0) {
        m_writeErrno = errno;
        ok = false;
    } else if (fstat(fileno(m_target), &opened) == 0 &&
               (stat(m_storePath, &named) != 0 || named.st_ino != opened.st_ino ||
                named.st_dev != opened.st_dev)) {
        m_writeErrno = ENOENT;
        ok = false;
    }
    if (std::fclose(m_target) != 0 && ok) {
        m_writeErrno = errno;
        ok = false;
    }
    m_target = nullptr;
    return ok;
}

void ReceiveRun::closingMessage(int result) {
    auto banner = [this](int id) {
        m_host.logPrint(LogText, formatted(m_host.text(IDS_FMT_CLOSING), m_host.text(id)));
    };
    auto fileLine = [this] {
        m_host.logPrint(LogText, formatted(m_host.text(IDS_FMT_FILE_PATH), m_path));
    };
    if (result == ReceiveTargetNotCreated) {
        banner(IDS_CAN_NOT_OPEN_FILE);
        fileLine();
    } else if (result == ReceiveInterrupted || result > 0) {
        banner(IDS_INTERRUPTED_RECEIVE);
    } else if (m_lastChar == CharTimeOut) {
        banner(IDS_RECEIVE_TIMEOUT);
        fileLine();
    } else {
        banner(IDS_COMPLETED_RECEIVE);
        fileLine();
    }
}

int ReceiveRun::run(ReceiveOutcome& outcome) {
    int result = ReceiveDone;

    m_host.logPrint(LogText, "\f");
    m_ctx.state.TransferRunning = true;
    m_host.setFrameTitle(DirectionReceive, m_path, true);

    if (!createTarget()) {
        result = ReceiveTargetNotCreated;
    } else {
        m_handle = ComOpen(m_ctx, DirectionReceive);
        if (m_handle < 0) {
            result = ReceivePortNotOpened;
        } else {
            m_deviceFile = m_ctx.port ? m_ctx.port->isFile() : m_ctx.machine.config.OutofFile != 0;
            PauseMillis(m_ctx, AfterOpenPauseMillis);
            result = signalStart();
        }
    }

    if (result == ReceiveDone) {
        m_host.setStatusText(StatusActivity, "");
        DataEnd end = waitForData();
        if (end == DataEnd::Ended || end == DataEnd::TimedOut) {
            // The unfinished line is kept (a time-out before the data leaves it empty).
            if (m_length > 0) {
                if (config().RecvSpace == 1)
                    trimTrailingSpaces();
                if (m_length > 0) {
                    if (!storeLine(false))
                        end = DataEnd::WriteFailed;
                    else
                        m_host.serviceMessages();
                }
            }
            if (end != DataEnd::WriteFailed && m_lastChar != CharTimeOut)
                result = signalEnd();
        }
        if (end == DataEnd::Interrupted)
            result = ReceiveInterrupted;
        if (end == DataEnd::WriteFailed)
            result = ReceiveTargetWriteFailed;
    }

    if (m_handle >= 0)
        ComClose(m_ctx, m_handle);
    if (!closeTarget() && result != ReceiveTargetWriteFailed && result != ReceiveTargetNotCreated)
        result = ReceiveTargetWriteFailed;
    if (result == ReceiveTargetWriteFailed)
        m_host.showError(formatted(m_host.text(IDS_FMT_SYSTEM_ERROR),
                                   m_host.text(IDS_TARGET_FILE_NOT_WRITTEN),
                                   std::strerror(m_writeErrno)) +
                         "\n\n" + m_path);
    m_host.logPrint(LogText, "");
    closingMessage(result);

    m_host.setStatusText(StatusActivity, "");
    m_host.setFrameTitle(0, "", true);
    m_ctx.state.TransferRunning = false;

    outcome.result = result;
    outcome.lastChar = m_lastChar;
    outcome.lines = m_count;
    return result;
}

} // namespace

int ReceiveNcData(TransferContext& ctx, const char* path, ReceiveOutcome* outcome) {
    return ReceiveNcDataInto(ctx, path, path, outcome);
}

int ReceiveNcDataInto(TransferContext& ctx, const char* path, const char* storePath,
                      ReceiveOutcome* outcome) {
    ReceiveOutcome local;
    ReceiveRun run(ctx, path, storePath);
    return run.run(outcome ? *outcome : local);
}

} // namespace corvane
