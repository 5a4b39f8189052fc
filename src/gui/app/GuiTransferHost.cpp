#include "app/GuiTransferHost.h"

#include <chrono>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include "app/AppState.h"
#include "app/FileQuestions.h"
#include "app/FrameWindow.h"
#include "support/Clock.h"
#include "support/StringIds.h"

namespace corvane::gui {

GuiTransferHost::GuiTransferHost(FrameWindow& frame, AppState& state, FileQuestions& files)
    : m_frame(frame), m_state(state), m_files(files) {}

void GuiTransferHost::logPrint(int colour, const std::string& text) {
    m_frame.logPrint(colour, text);
    serviceMessages();
}

void GuiTransferHost::logShowFlow(const std::string& text) {
    m_frame.logShowFlow(text);
    serviceMessages();
}

void GuiTransferHost::setStatusText(int part, const std::string& text) {
    m_frame.setStatusText(part, text);
}

// The engines' own activity flag is ignored: the title follows whether the window really is
// the active one, as it does when the activation changes.
void GuiTransferHost::setFrameTitle(int direction, const char* file, bool) {
    m_frame.setFrameTitle(direction, file);
}

void GuiTransferHost::progressShow(bool visible) { m_frame.progressShow(visible); }
void GuiTransferHost::progressRange(uint32_t total) { m_frame.progressRange(total); }
void GuiTransferHost::progressPos(uint32_t position) { m_frame.progressPos(position); }

// The target is read at every notice: a hand-over may have named a new one between sends.
void GuiTransferHost::notify(uint32_t wParam, uint32_t lParam) {
    m_notify.send(m_state.linkFolder, m_state.notifyWindow, wParam, lParam);
}

bool GuiTransferHost::selectDeviceFile(bool receive, MachineDef& machine, std::string& path) {
    return m_files.selectDeviceFile(&m_frame, receive, machine, path);
}

void GuiTransferHost::showError(const std::string& text) {
    QMessageBox::critical(&m_frame, QString::fromUtf8(m_state.product[ProductName]),
                          QString::fromLocal8Bit(text.c_str()));
}

void GuiTransferHost::serviceMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Sleeps on the event queue: the timer bounds the wait, any input ends it early, and either
// way the queue is drained before the engine looks at its line and InterruptRequest again.
void GuiTransferHost::idle(uint64_t micros) {
    if (m_clock != nullptr) {
        m_clock->idle(micros);
        return;
    }
    const auto wait = std::chrono::milliseconds((micros + 999) / 1000);
    QEventLoop loop;
    QTimer bound;
    bound.setSingleShot(true);
    bound.setTimerType(Qt::PreciseTimer);
    QObject::connect(&bound, &QTimer::timeout, &loop, [] {});
    bound.start(wait);
    loop.processEvents(QEventLoop::WaitForMoreEvents);
    serviceMessages();
}

uint64_t GuiTransferHost::nowMicros() {
    return m_clock != nullptr ? m_clock->nowMicros() : WexGetTickCount64();
}

const char* GuiTransferHost::text(int id) { return m_state.text(id); }

} // namespace corvane::gui
