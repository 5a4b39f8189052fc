#pragma once
// The transfer engines' host in the window program: the log pane, the status parts, the
// title and the progress bar of the frame, the file dialogs, and the Qt event queue as the
// message pump.

#include <QElapsedTimer>

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

private:
    FrameWindow& m_frame;
    AppState& m_state;
    FileQuestions& m_files;
    HostClock* m_clock = nullptr;
    NotifyLink m_notify;
};

} // namespace corvane::gui
