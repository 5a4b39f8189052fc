#include "transfer/SendEngine.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "support/StringIds.h"
#include "transfer/Port.h"
#include "transfer/SendBlock.h"
#include "transfer/TapeCode.h"
#include "transfer/TransferContext.h"
#include "transfer/TransferWait.h"

namespace corvane {

namespace {

constexpr int notifyBegin = 10;
constexpr int notifyProgress = 11;
constexpr int notifyEnd = 12;
constexpr int notifyCompleted = 1;
constexpr int notifyFailed = 2;

constexpr uint32_t pauseAfterOpenMillis = 1000;
constexpr uint32_t pauseAfterStartCodeMillis = 1000;
constexpr uint32_t pauseBetweenStopTriesMillis = 500;
constexpr int stopCodeTries = 5;

constexpr int leaderBefore = 0;
constexpr int leaderAfter = 1;
constexpr int leaderMiddle = 2;

#if defined(__GNUC__)
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
#endif

std::string format(const char* fmt, ...) {
    // Most texts are short (a count, a log line); one formatting pass into the stack serves
    // them, and only a longer text is formatted again into its own storage.
    char small[256];
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    std::string out;
    if (needed > 0 && static_cast<size_t>(needed) < sizeof small) {
        out.assign(small, static_cast<size_t>(needed));
    } else if (needed > 0) {
        out.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, args);
        out.resize(static_cast<size_t>(needed));
    }
    va_end(args);
    return out;
}

std::string boundedText(const char* text, size_t capacity) {
    return std::string(text, strnlen(text, capacity));
}

// Reads the temporary copy one piece at a time, the way a text-mode read of at most 511
// characters does: a piece ends after its line feed or when it is full, and CR LF reads as
// one LF. The file is a byte stream; nothing else is translated.
class LineReader {
public:
    explicit LineReader(std::FILE* file) : m_file(file) {}

    // False at end of file (nothing read). `offset` is the position in the file afterwards.
    bool next(char* out, size_t capacity, size_t& length) {
        length = 0;
        // The copy belongs to this reader alone: no stream locking per character.
        while (length + 1 < capacity) {
            int c = getc_unlocked(m_file);
            if (c == EOF)
                break;
            ++m_offset;
            if (c == '\r') {
                const int following = getc_unlocked(m_file);
                if (following == '\n') {
                    ++m_offset;
                    c = '\n';
                } else if (following != EOF) {
                    std::ungetc(following, m_file);
                }
            }
            out[length++] = static_cast<char>(c);
            if (c == '\n')
                break;
        }
        // A line that fills the piece exactly is still one block: its line end is read with
        // it, so no empty piece follows. (Longer lines are refused before a send starts.)
        if (length + 1 == capacity && out[length - 1] != '\n')
            takeLineEnd();
        out[length] = '\0';
        return length > 0;
    }

    uint32_t offset() const { return m_offset; }

private:
    void takeLineEnd() {
        const long before = std::ftell(m_file);
        const int c = getc_unlocked(m_file);
        if (c == '\n') {
            ++m_offset;
            return;
        }
        if (c == '\r' && getc_unlocked(m_file) == '\n') {
            m_offset += 2;
            return;
        }
        if (c != EOF)
            std::fseek(m_file, before, SEEK_SET);
    }

    std::FILE* m_file;
    uint32_t m_offset = 0; // 32 bits, like the sizes in the queue
};

class SendRun {
public:
    explicit SendRun(TransferContext& ctx)
        : m_ctx(ctx), m_host(ctx.host), m_line(ctx.machine.line), m_config(ctx.machine.config) {}

    int run();

private:
    bool echo() const { return m_ctx.config.Echo != 0; }
    void logLeader(const std::string& label, const std::string& status);
    bool sendRun(uint8_t character, int count, int labelId, int failure);
    bool sendPercent(int failure);
    bool sendUserCode(const char* code, int failure);
    bool sendLeaders();
    bool sendMiddleLeaders();
    bool sendFile(int position);
    bool sendPiece(char* line, size_t length, uint32_t position);
    void updateRemainingTime(uint32_t position);
    bool sendTrailers();
    void sendStopCode();
    void fileHeader(int position);
    void finish();
    void dropTempCopy();
    const char* queuedName(int position) const { return m_ctx.queue.Entries[position].Name; }

    TransferContext& m_ctx;
    TransferHost& m_host;
    const MachineLine& m_line;
    const MachineConfig& m_config;

    int m_count = 0;
    int m_handle = -1;
    int m_result = SendCompleted;
    uint32_t m_charactersSent = 0;
    int m_blockCount = 0;
    int m_blockNumber = 0;
    uint32_t m_totalSize = 0;
    uint32_t m_bytesDone = 0;
    char m_tempPath[260] = {};
    std::FILE* m_copy = nullptr;

    uint64_t m_dataStartMicros = 0;
    bool m_estimated = false;
    uint32_t m_lastEstimateMillis = 0;

    char m_readBuffer[SendLineSize] = {};
    std::string m_echo;      // reused for every echo line
    std::string m_countText; // and for the block count
    SendBlock m_block;
};

void SendRun::logLeader(const std::string& label, const std::string& status) {
    if (echo())
        m_host.logPrint(LogControl,
                        format("     : [%s] %s...", label.c_str(), m_host.text(IDS_LABEL_SEND)));
    m_host.setStatusText(StatusActivity, status);
}

bool SendRun::sendRun(uint8_t character, int count, int labelId, int failure) {
    for (int i = 0; i < count; ++i) {
        if (SendTapeChar(m_ctx, m_handle, character, 1) != 0) {
            m_result = failure;
            return false;
        }
        ++m_charactersSent;
        if (i == 0)
            logLeader(m_host.text(labelId), m_host.text(labelId));
    }
    return true;
}

bool SendRun::sendPercent(int failure) {
    if (SendTapeChar(m_ctx, m_handle, '%', 1) != 0) {
        m_result = failure;
        return false;
    }
    ++m_charactersSent;
    logLeader("%", "%");
    return true;
}

bool SendRun::sendUserCode(const char* code, int failure) {
    const std::string text = boundedText(code, 256);
    if (text.size() < 2)
        return true;
    logLeader(m_host.text(IDS_LABEL_USER_CODE), text);
    if (SendUserCode(m_ctx, m_handle, text.c_str()) != 0) {
        m_result = failure;
        return false;
    }
    m_charactersSent += static_cast<uint32_t>(UserCodeByteCount(text.c_str()));
    return true;
}

bool SendRun::sendLeaders() {
    if (m_line.PtpStart > 0) {
        if (SendTapeChar(m_ctx, m_handle, static_cast<uint8_t>(m_line.PtpStart), 0) != 0) {
            m_result = SendStartCodeFailed;
            return false;
        }
        // The control needs a moment to switch its reader on before the tape starts.
        PauseMillis(m_ctx, pauseAfterStartCodeMillis);
        logLeader(m_host.text(IDS_LABEL_DC2), m_host.text(IDS_LABEL_DC2));
    }
    if (!sendRun(0x00, m_config.PtpNull[leaderBefore], IDS_LABEL_NULL, SendLeaderNullFailed))
        return false;
    if (!sendRun(' ', m_config.PtpSpace[leaderBefore], IDS_LABEL_SPACE, SendLeaderSpaceFailed))
        return false;
    if ((m_config.ErCode & 1) != 0 && !sendPercent(SendLeaderPercentFailed))
        return false;
    if (m_config.HeadLf == 1 && !sendRun('\n', 1, IDS_LABEL_LINE_FEED_CODE, SendHeadLineFeedFailed))
        return false;
    return sendUserCode(m_config.PtpUser0, SendLeaderUserCodeFailed);
}

bool SendRun::sendMiddleLeaders() {
    if (!sendRun(0x00, m_config.PtpNull[leaderMiddle], IDS_LABEL_NULL, SendLeaderNullFailed))
        return false;
    if (!sendRun(' ', m_config.PtpSpace[leaderMiddle], IDS_LABEL_SPACE, SendLeaderSpaceFailed))
        return false;
    return sendUserCode(m_config.PtpUser2, SendLeaderUserCodeFailed);
}

bool SendRun::sendTrailers() {
    if (!sendUserCode(m_config.PtpUser1, SendTrailerUserCodeFailed))
        return false;
    if ((m_config.ErCode & 2) != 0 && !sendPercent(SendTrailerPercentFailed))
        return false;
    if (!sendRun(' ', m_config.PtpSpace[leaderAfter], IDS_LABEL_SPACE, SendTrailerSpaceFailed))
        return false;
    return sendRun(0x00, m_config.PtpNull[leaderAfter], IDS_LABEL_NULL, SendTrailerNullFailed);
}

// The one byte that may be given up: a machine that has already stopped listening must not
// keep the program waiting at the very end.
void SendRun::sendStopCode() {
    if (m_line.PtpStop <= 0)
        return;
    for (int attempt = 0; attempt < stopCodeTries; ++attempt) {
        if (ComWriteByte(m_ctx, m_handle, static_cast<uint8_t>(m_line.PtpStop)) == 0)
            break;
        m_host.serviceMessages();
        if (m_ctx.state.InterruptRequest != 0)
            break;
        if (attempt + 1 < stopCodeTries)
            PauseMillis(m_ctx, pauseBetweenStopTriesMillis);
    }
    logLeader(m_host.text(IDS_LABEL_DC4), m_host.text(IDS_LABEL_DC4));
}

void SendRun::fileHeader(int position) {
    m_host.logPrint(LogText, "");
    m_host.logPrint(LogText, format("==== [ %s ] ====", queuedName(position)));
    m_host.logPrint(LogText, "");
    m_host.setFrameTitle(DirectionSend, queuedName(position), true);
}

void SendRun::dropTempCopy() {
    if (m_copy != nullptr) {
        std::fclose(m_copy);
        m_copy = nullptr;
    }
    if (m_tempPath[0] != '\0') {
        ::unlink(m_tempPath);
        m_tempPath[0] = '\0';
    }
}

bool SendRun::sendFile(int position) {
    if (position > 0)
        fileHeader(position);

    // The copy is read rather than the listed file, so the file may be saved over by an
    // editor while it goes out.
    if (MakeTempCopy(queuedName(position), m_tempPath) == 0 ||
        (m_copy = std::fopen(m_tempPath, "rb")) == nullptr) {
        m_result = SendFileNotOpened;
        return false;
    }

    if (position > 0 && !sendMiddleLeaders())
        return false;

    m_host.setStatusText(StatusBlocks, format("%d", m_blockCount));

    LineReader reader(m_copy);
    size_t length = 0;
    while (reader.next(m_readBuffer, sizeof m_readBuffer, length)) {
        if (!sendPiece(m_readBuffer, length, m_bytesDone + reader.offset()))
            return false;
    }

    dropTempCopy();
    m_bytesDone += m_ctx.queue.Entries[position].Size;
    return true;
}

bool SendRun::sendPiece(char* line, size_t length, uint32_t position) {
    m_host.progressPos(position);
    m_host.notify(notifyProgress, position);

    if (length > 0 && line[length - 1] == '\n')
        line[--length] = '\0';
    m_host.setStatusText(StatusActivity, std::string(line, length));

    if (BuildBlock(line, length, m_config, m_blockNumber, m_block)) {
        for (int i = 0; i < m_block.prefixLength; ++i) {
            if (SendTapeChar(m_ctx, m_handle, static_cast<uint8_t>(m_block.prefix[i]), 1) != 0) {
                m_result = SendBlockFailed;
                return false;
            }
            ++m_charactersSent;
        }
        for (int i = 0; i < m_block.length; ++i) {
            if (SendTapeChar(m_ctx, m_handle, static_cast<uint8_t>(m_block.text[i]), 1) != 0) {
                m_result = SendBlockFailed;
                return false;
            }
            ++m_charactersSent;
        }

        ++m_blockCount;
        // "%05d: %s%s" and "%d", put together by hand: a device file moves blocks so fast
        // that printf would be a good part of the cost of a block.
        char count[16];
        const int digits = std::snprintf(count, sizeof count, "%d", m_blockCount);
        if (echo()) {
            // Without the line feed, and like %s only up to a NUL the file may hold.
            const size_t shown = strnlen(m_block.text, static_cast<size_t>(m_block.length - 1));
            m_echo.clear();
            if (digits < 5)
                m_echo.append(static_cast<size_t>(5 - digits), '0');
            m_echo.append(count, static_cast<size_t>(digits));
            m_echo.append(": ");
            m_echo.append(m_block.prefix, strnlen(m_block.prefix, sizeof m_block.prefix));
            m_echo.append(m_block.text, shown);
            m_host.logPrint(LogText, m_echo);
        }
        m_countText.assign(count, static_cast<size_t>(digits));
        m_host.setStatusText(StatusBlocks, m_countText);
    }

    // Dropped lines pump as well, so a long run of comments cannot keep an interrupt waiting.
    m_host.serviceMessages();
    if (m_ctx.state.InterruptRequest != 0) {
        m_result = SendInterrupted;
        return false;
    }
    updateRemainingTime(position);
    return true;
}

void SendRun::updateRemainingTime(uint32_t position) {
    const uint32_t elapsed = static_cast<uint32_t>((m_host.nowMicros() - m_dataStartMicros) / 1000);
    if (m_estimated && elapsed - m_lastEstimateMillis < 1000)
        return;
    if (elapsed < 3000 && position < 1024)
        return;
    if (position == 0)
        return;
    const uint64_t projected =
        (static_cast<uint64_t>(m_totalSize) * elapsed + position / 2) / position;
    // A file that grew since it was listed carries the position past the total.
    const uint64_t remaining = projected > elapsed ? projected - elapsed : 0;
    std::string text;
    FormatRemainingTime(static_cast<uint32_t>(std::min<uint64_t>(remaining, UINT32_MAX)), text,
                        m_host.text(IDS_FMT_REMAINING_HMS), m_host.text(IDS_FMT_REMAINING_MS),
                        m_host.text(IDS_FMT_REMAINING_S));
    m_host.setStatusText(StatusRemaining, text);
    m_estimated = true;
    m_lastEstimateMillis = elapsed;
}

void SendRun::finish() {
    if (m_handle >= 0) {
        if (ComClose(m_ctx, m_handle) != 0 && m_result == SendCompleted)
            m_result = SendBlockFailed; // the last characters never reached the device file
        m_handle = -1;
    }

    m_host.logPrint(LogText, "");
    if (m_result == SendCompleted) {
        m_host.logPrint(LogText, format("==== %s [%lu] byte ====", m_host.text(IDS_COMPLETED_SEND),
                                        static_cast<unsigned long>(m_charactersSent)));
    } else if (m_result == SendFileNotOpened) {
        const int position = std::clamp(m_ctx.queue.Position, 0, SendQueueCapacity - 1);
        m_host.logPrint(LogText, format("==== %s [%s] ====", m_host.text(IDS_CAN_NOT_OPEN_FILE),
                                        boundedText(queuedName(position), 260).c_str()));
    } else {
        m_host.logPrint(LogText, format("==== %s ====", m_host.text(IDS_INTERRUPTED_SEND)));
    }

    dropTempCopy();

    m_host.setStatusText(StatusActivity, "");
    m_host.progressShow(false);
    m_host.progressPos(0);
    m_ctx.queue.Position = 0;
    m_host.setFrameTitle(DirectionSend, "", false);
    m_host.serviceMessages();
    m_ctx.state.TransferRunning = false;

    m_host.notify(notifyEnd, 0);
    m_host.notify(m_result == SendCompleted ? notifyCompleted : notifyFailed, 0);
}

int SendRun::run() {
    m_count = std::clamp(m_ctx.queue.Count, 0, SendQueueCapacity);
    m_blockNumber = FirstBlockNumber(m_config);

    m_host.logPrint(LogText, "\f");
    m_ctx.state.TransferRunning = true;
    m_ctx.queue.Position = 0;

    m_handle = ComOpen(m_ctx, DirectionSend);
    if (m_handle < 0) {
        m_result = SendPortNotOpened;
        finish();
        return m_result;
    }
    PauseMillis(m_ctx, pauseAfterOpenMillis);

    for (int i = 0; i < m_count; ++i)
        m_totalSize += m_ctx.queue.Entries[i].Size;
    m_host.progressRange(m_totalSize);
    m_host.progressPos(0);
    m_host.progressShow(true);
    m_host.notify(notifyBegin, m_totalSize);

    if (m_count > 0)
        fileHeader(0);

    bool ok = sendLeaders();
    m_dataStartMicros = m_host.nowMicros();

    for (int position = 0; ok && position < m_count; ++position) {
        m_ctx.queue.Position = position;
        ok = sendFile(position);
    }
    if (ok && sendTrailers())
        sendStopCode();

    finish();
    return m_result;
}

} // namespace

int SendNcData(TransferContext& ctx) {
    // The run holds the read and block buffers; keep them off the caller's stack.
    auto run = std::make_unique<SendRun>(ctx);
    return run->run();
}

int FormatRemainingTime(uint32_t milliseconds, std::string& out) {
    return FormatRemainingTime(milliseconds, out, nullptr, nullptr, nullptr);
}

int FormatRemainingTime(uint32_t milliseconds, std::string& out, const char* hoursFormat,
                        const char* minutesFormat, const char* secondsFormat) {
    const auto chosen = [](const char* given, const char* fallback) {
        return given != nullptr && given[0] != '\0' ? given : fallback;
    };
    // Ints, as the "%2d" of the string tables take them (at most 1193 hours).
    const int seconds = static_cast<int>(milliseconds / 1000);
    const int hours = seconds / 3600;
    const int minutes = (seconds % 3600) / 60;
    const int rest = seconds % 60;
    // The formats come from the string tables, not from the user.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    if (hours > 0)
        out = format(chosen(hoursFormat, "%2dH%2dM%2dS"), hours, minutes, rest);
    else if (minutes > 0)
        out = format(chosen(minutesFormat, "%2dM%2dS"), minutes, rest);
    else
        out = format(chosen(secondsFormat, "%2dS"), rest);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return 1;
}

int MakeTempCopy(const char* path, char* tempPath) {
    tempPath[0] = '\0';

    std::string folder;
    const char* fromEnvironment = std::getenv("TMPDIR");
    struct stat info {};
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0' &&
        ::stat(fromEnvironment, &info) == 0 && S_ISDIR(info.st_mode))
        folder = fromEnvironment;
    else
        folder = "/tmp";
    if (folder.back() != '/')
        folder += '/';

    std::string name = folder + "CVNXXXXXX";
    if (name.size() >= 260)
        return 0;
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return 0;

    bool ok = false;
    if (std::FILE* source = std::fopen(path, "rb")) {
        ok = true;
        char buffer[8192];
        size_t got = 0;
        while (ok && (got = std::fread(buffer, 1, sizeof buffer, source)) > 0) {
            size_t done = 0;
            while (done < got) {
                const ssize_t put = ::write(fd, buffer + done, got - done);
                if (put < 0 && errno == EINTR)
                    continue;
                if (put <= 0) {
                    ok = false;
                    break;
                }
                done += static_cast<size_t>(put);
            }
        }
        if (std::ferror(source))
            ok = false;
        std::fclose(source);
    }
    if (::close(fd) != 0)
        ok = false;
    if (!ok) {
        ::unlink(name.c_str());
        return 0;
    }
    std::memcpy(tempPath, name.c_str(), name.size() + 1);
    return 1;
}

} // namespace corvane
