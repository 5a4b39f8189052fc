#include "transfer/Port.h"

#include <algorithm>
#include <string>
#include <vector>

#include "support/StringIds.h"
#include "transfer/LineSettings.h"
#include "transfer/TransferContext.h"

// Principles of operation
//
// One line, one byte at a time, on the window's thread. Nothing here blocks for longer than
// one slice: a wait for a byte, for a held line to clear or for the send delay is cut into
// slices, and between slices the host pumps the window so the Interrupt command and the
// Escape key get through. While the machine holds the line the retry loop of the caller
// sleeps on the line for a slice per attempt instead of spinning.

namespace corvane {

// Puts `args` into the "%s" places of a table text, in order. Table texts are data, so they
// are never handed to printf as a format.
std::string FormatLineText(const char* format, const std::vector<std::string>& args) {
    std::string out;
    auto arg = args.begin();
    for (const char* p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (arg != args.end())
                out += *arg++;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            out += '%';
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

OpenedLine FinishOpen(OpenedLine opened, const std::function<uint64_t()>& now,
                      const std::function<bool(uint64_t)>& wait, bool* interrupted) {
    if (interrupted)
        *interrupted = false;
    while (opened.line) {
        const OpenProgress progress = opened.line->continueOpen(now());
        if (progress == OpenProgress::Done)
            break;
        if (progress == OpenProgress::Failed) {
            opened.error.kind = OpenFailure::Other;
            opened.error.message = opened.line->openFailure();
            opened.line->close();
            opened.line.reset();
            break;
        }
        if (!wait(OpenSliceMicros)) {
            opened.line->close();
            opened.line.reset();
            if (interrupted)
                *interrupted = true;
        }
    }
    return opened;
}

namespace {

constexpr uint64_t SliceMicros = 20'000;
constexpr uint64_t ReadWithoutTimeOutMicros = 1'000'000; // one read of the original driver
constexpr uint64_t DrainMicros = 1'000'000;
constexpr uint64_t CloseSettleMicros = 1'000'000; // before DTR drops at close

constexpr int OpenHandle = 0;
constexpr int DeviceKindFile = 1;

Line* lineOf(TransferContext& ctx, int handle) {
    return handle < 0 ? nullptr : ctx.port.get();
}

std::string formatText(const char* format, std::initializer_list<std::string> args) {
    return FormatLineText(format, std::vector<std::string>(args));
}

std::string messageText(TransferContext& ctx, const LineMessage& message) {
    std::vector<std::string> args;
    for (const MessageArg& arg : message.args)
        args.push_back(arg.textId != 0 ? ctx.host.text(arg.textId) : arg.text);
    return FormatLineText(ctx.host.text(message.textId), args);
}

std::string failureReason(TransferContext& ctx, const OpenError& error) {
    if (error.message.textId != 0)
        return messageText(ctx, error.message);
    switch (error.kind) {
    case OpenFailure::PermissionDenied: {
        // Name the group when we know it: it is not dialout on every distribution.
        const char* text = ctx.host.text(IDS_PORT_PERMISSION_DENIED);
        if (error.text.empty())
            return text;
        return formatText(ctx.host.text(IDS_FMT_SYSTEM_ERROR), {text, error.text});
    }
    case OpenFailure::Busy:
        return ctx.host.text(IDS_PORT_BUSY);
    case OpenFailure::NotFound:
        return ctx.host.text(IDS_PORT_NOT_FOUND);
    case OpenFailure::NotASerialPort:
        return ctx.host.text(IDS_PORT_NOT_A_SERIAL_PORT);
    case OpenFailure::Other:
    case OpenFailure::None:
        break;
    }
    return error.text;
}

// Waits `micros` in slices, pumping the window, until done or (when `interruptible`) an
// interrupt is requested.
void pumpingWait(TransferContext& ctx, uint64_t micros, bool interruptible) {
    const uint64_t start = ctx.host.nowMicros();
    for (;;) {
        if (interruptible && ctx.state.InterruptRequest != 0)
            return;
        const uint64_t elapsed = ctx.host.nowMicros() - start;
        if (elapsed >= micros)
            return;
        ctx.host.idle(std::min(SliceMicros, micros - elapsed));
    }
}

} // namespace

int ComOpen(TransferContext& ctx, int direction) {
    ctx.state.InterruptRequest = 0;
    if (ctx.port) {
        // An engine that lost its handle must not leave the device locked for the next one.
        ctx.port->close();
        ctx.port.reset();
    }

    std::string device;
    const bool isFile = ctx.machine.config.OutofFile == DeviceKindFile;
    if (isFile) {
        if (!ctx.host.selectDeviceFile(direction == DirectionReceive, ctx.machine, device))
            return -2;
    } else {
        device = SerialDeviceName(ctx.machine.line);
    }

    OpenedLine opened;
    if (ctx.openLine)
        opened = ctx.openLine(ctx.machine, direction, isFile ? device.c_str() : nullptr);
    // A network port is still connecting: the window keeps going, and Interrupt ends the wait.
    bool interrupted = false;
    opened = FinishOpen(
        std::move(opened), [&ctx] { return ctx.host.nowMicros(); },
        [&ctx](uint64_t micros) {
            ctx.host.idle(micros);
            return ctx.state.InterruptRequest == 0;
        },
        &interrupted);
    if (interrupted)
        return -2;
    if (!opened.line) {
        std::string message = ctx.host.text(IDS_FAILED_TO_OPEN_DEVICE);
        message += "\n\n" + device;
        const std::string reason = failureReason(ctx, opened.error);
        if (!reason.empty())
            message += "\n" + reason;
        ctx.host.showError(message);
        return -2;
    }

    for (const LineMessage& warning : opened.line->openWarnings())
        ctx.host.logPrint(LogControl, messageText(ctx, warning));

    if ((ctx.machine.line.HandShake & HandShakeXonXoff) && direction == DirectionSend &&
        ctx.machine.config.Xoff != 0 && !opened.line->isFile())
        opened.line->holdUntilXon();
    ctx.port = std::move(opened.line);
    return OpenHandle;
}

int ComCheckLine(TransferContext& ctx, int handle, int reading) {
    Line* line = lineOf(ctx, handle);
    if (!line)
        return 0;
    if (line->isFile())
        return 1;
    LineHolds holds;
    if (!line->holds(holds))
        return 0;

    const int handShake = ctx.machine.line.HandShake;
    int signal = 0;
    int status = 0;
    if (holds.cts && (handShake & HandShakeRtsCts)) {
        signal = status = IDS_SIGNAL_CTS;
    } else if (holds.dsr && (handShake & HandShakeDsrDtr)) {
        signal = status = IDS_SIGNAL_DSR;
    } else if (holds.xoff && reading == 0 && (handShake & HandShakeXonXoff)) {
        signal = IDS_SIGNAL_XON;
        status = IDS_STATUS_XOFF;
    } else {
        ctx.host.setStatusText(StatusFlow, "");
        return 1;
    }
    ctx.host.logShowFlow(
        formatText(ctx.host.text(IDS_FMT_WAITING_LINE),
                   {ctx.host.text(signal), ctx.host.text(IDS_WAITING_FOR_SIGNAL)}));
    ctx.host.setStatusText(StatusFlow, ctx.host.text(status));
    return 0;
}

namespace {

// A device that has gone (a USB adapter pulled out) will never take or give another byte.
// Waiting for it would hold the transfer until the user gives up, so the transfer is ended as
// if interrupted, once, with the reason shown. A pending close request (2) is kept.
bool endTransferIfLineLost(TransferContext& ctx, const Line& line) {
    if (!line.lost())
        return false;
    if (ctx.state.InterruptRequest == 0) {
        ctx.state.InterruptRequest = 1;
        const LineMessage reason = line.lostReason();
        ctx.host.showError(reason.textId != 0 ? messageText(ctx, reason)
                                              : std::string(ctx.host.text(IDS_PORT_DISCONNECTED)));
    }
    return true;
}

} // namespace

int ComWriteByte(TransferContext& ctx, int handle, uint8_t byte) {
    Line* line = lineOf(ctx, handle);
    if (!line)
        return -1;
    // A device file is never held and never lost; its bytes take the short way.
    const bool isFile = line->isFile();
    if (!isFile && endTransferIfLineLost(ctx, *line))
        return -1;
    if (!isFile && ComCheckLine(ctx, handle, 0) == 0) {
        // The caller retries at once; sleeping on the line here keeps that loop from spinning
        // while the machine holds it, and wakes as soon as its XON arrives.
        line->waitForChange(SliceMicros);
        return -1;
    }
    if (!line->writeByte(byte, SliceMicros)) {
        if (!isFile)
            endTransferIfLineLost(ctx, *line);
        return -1;
    }

    const int32_t delay = ctx.machine.config.SendDelay;
    if (delay > 0)
        pumpingWait(ctx, static_cast<uint64_t>(delay) * 1000u, true);
    return 0;
}

int ComReadByte(TransferContext& ctx, int handle) {
    Line* line = lineOf(ctx, handle);
    if (!line)
        return -1;
    ComCheckLine(ctx, handle, 1); // only for the display: a held line may still deliver

    // A device file hands out what it has read without waiting; only at its end does the
    // read below need the clock.
    if (line->isFile()) {
        const ReadResult r = line->readByte(0);
        if (r.status == ReadStatus::Byte)
            return r.byte;
    }

    const int32_t timeOut = ctx.machine.config.PtrTimeOut;
    const bool limited = timeOut >= 1;
    const uint64_t limit =
        limited ? static_cast<uint64_t>(timeOut) * 1000u : ReadWithoutTimeOutMicros;
    const uint64_t start = ctx.host.nowMicros();
    for (;;) {
        const uint64_t elapsed = ctx.host.nowMicros() - start;
        const uint64_t wait = elapsed < limit ? std::min(SliceMicros, limit - elapsed) : 0;
        const ReadResult r = line->readByte(wait);
        if (r.status == ReadStatus::Byte)
            return r.byte;
        if (!limited && line->isFile())
            return -1; // end of the device file: nothing more will come
        // A file at its end or a failing device answers at once; sleep instead of spinning.
        if (r.status == ReadStatus::Error && endTransferIfLineLost(ctx, *line))
            return -1;
        if (r.status == ReadStatus::Error || line->isFile())
            ctx.host.idle(wait);
        else
            ctx.host.serviceMessages();
        if (ctx.state.InterruptRequest != 0)
            return -1;
        if (ctx.host.nowMicros() - start >= limit)
            return limited ? -2 : -1;
    }
}

int ComClose(TransferContext& ctx, int handle) {
    Line* line = lineOf(ctx, handle);
    if (!line)
        return -1;
    const bool lostBefore = line->lost();
    line->drainOutput(DrainMicros);
    const bool delivered = line->outputDelivered();
    const LineMessage lostReasonOf = line->isFile() ? LineMessage{} : line->lostReason();
    if (!line->isFile()) {
        line->purge();
        pumpingWait(ctx, CloseSettleMicros, false);
        line->dropDtr();
    }
    line->close();
    ctx.port.reset();
    if (!delivered) {
        // The end of the program is missing from the file: that must not pass for a
        // completed transfer.
        // A device server that stopped taking bytes says why; a device file has its own text.
        // Told once: a line lost mid-transfer has said why already.
        if (lostReasonOf.textId == 0)
            ctx.host.showError(ctx.host.text(IDS_DEVICE_FILE_NOT_WRITTEN));
        else if (!lostBefore)
            ctx.host.showError(messageText(ctx, lostReasonOf));
        return -3;
    }
    return 0;
}

} // namespace corvane
