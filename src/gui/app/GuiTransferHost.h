#pragma once
// The transfer engines' host in the window program: the log pane, the status parts, the
// title and the progress bar of the frame, the file dialogs, and the Qt event queue as the
// message pump.

#include <QElapsedTimer>

#include <array>
#include <string>

#include "app/NotifyLink.h"
#include "transfer/TransferHost.h"

namespace corvane::gui {

struct AppState;
class FileQuestions;
class FrameWindow;

// Where the host's time comes from. The window runs on the monotonic clock and sleeps on the
// event queue; a test passes a clock that steps over the engines' pauses instead of waiting.
class HostClock {
public:
    virtual ~HostClock() = default;
    virtual uint64_t nowMicros() = 0;
    // Lets `micros` pass; the event queue must be drained meanwhile.
    virtual void idle(uint64_t micros) = 0;
};

class GuiTransferHost : public TransferHost {
public:
    GuiTransferHost(FrameWindow& frame, AppState& state, FileQuestions& files);

    void logPrint(int colour, const std::string& text) override;
    void logShowFlow(const std::string& text) override;
    void setStatusText(int part, const std::string& text) override;
    void setFrameTitle(int direction, const char* file, bool active) override;
    void progressShow(bool visible) override;
    void progressRange(uint32_t total) override;
    void progressPos(uint32_t position) override;
    void notify(uint32_t wParam, uint32_t lParam) override;
    bool selectDeviceFile(bool receive, MachineDef& machine, std::string& path) override;
    void showError(const std::string& text) override;
    void serviceMessages() override;
    void idle(uint64_t micros) override;
    uint64_t nowMicros() override;
    const char* text(int id) override;

    // Null: the real clock.
    void setClock(HostClock* clock) { m_clock = clock; }

    // How often, at most, the engines' pumps turn the event queue and repaint: 25 times a
    // second is smooth to the eye, and the engines call far more often than that.
    static constexpr qint64 PumpTickMillis = 40;

private:
    // True when a tick has passed since the queue last turned (and starts the next tick).
    bool tickDue();
    // Shows the status texts and the progress the engines wrote since the last tick.
    void flushStatus();

    FrameWindow& m_frame;
    AppState& m_state;
    FileQuestions& m_files;
    HostClock* m_clock = nullptr;
    NotifyLink m_notify;
    QElapsedTimer m_sincePump; // real time: a rate limit for the screen, not program time
    std::array<std::string, 4> m_pendingStatus;
    std::array<bool, 4> m_statusPending{};
    uint32_t m_pendingProgress = 0;
    bool m_progressPending = false;
};

} // namespace corvane::gui
