#pragma once
// The transfer engines' host in the window program: the log pane, the status parts, the
// title and the progress bar of the frame, the file dialogs, and the Qt event queue as the
// message pump.

#include <QElapsedTimer>

#include "transfer/TransferHost.h"

namespace corvane::gui {

struct AppState;
class FileQuestions;
class FrameWindow;

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

private:
    FrameWindow& m_frame;
    AppState& m_state;
    FileQuestions& m_files;
};

} // namespace corvane::gui
