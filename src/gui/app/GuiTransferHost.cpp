#include "app/GuiTransferHost.h"

#include <chrono>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include "app/FileQuestions.h"
#include "app/FrameWindow.h"
#include "common/AppState.h"
#include "support/Clock.h"
#include "support/StringIds.h"

namespace corvane::gui {

GuiTransferHost::GuiTransferHost(FrameWindow& frame, AppState& state, FileQuestions& files)
    : m_frame(frame), m_state(state), m_files(files) {}

void GuiTransferHost::logPrint(int colour, const std::string& text) {
    m_frame.logPrint(colour, text);
    serviceMessages();
}

// A waiting line means the machine holds the line: show it, and the status beside it, now.
void GuiTransferHost::logShowFlow(const std::string& text) {
    flushStatus();
    m_frame.logShowFlow(text);
    serviceMessages();
}

// The engines write the activity and the block count for every block, a hundred times a
// second at 38400 baud, and a status part repaints at once when its text changes. The texts
// are kept here and shown once a tick, the last of each part; nobody reads faster.
void GuiTransferHost::setStatusText(int part, const std::string& text) {
    if (part < 0 || part >= int(m_pendingStatus.size())) {
        m_frame.setStatusText(part, text);
        return;
    }
    m_pendingStatus[size_t(part)] = text;
    m_statusPending[size_t(part)] = true;
}

void GuiTransferHost::flushStatus() {
    if (m_progressPending) {
        m_progressPending = false;
        m_frame.progressPos(m_pendingProgress);
    }
    for (size_t part = 0; part < m_pendingStatus.size(); ++part) {
        if (m_statusPending[part]) {
            m_statusPending[part] = false;
            m_frame.setStatusText(int(part), m_pendingStatus[part]);
        }
    }
}

// The engines' own activity flag is ignored: the title follows whether the window really is
// the active one, as it does when the activation changes. A transfer's end comes with a
// title: what it wrote last must be on show before the frame tidies the bars up.
void GuiTransferHost::setFrameTitle(int direction, const char* file, bool) {
    flushStatus();
    m_frame.setFrameTitle(direction, file);
}

// The bar goes away at a transfer's end; the position the engine reached is shown first.
void GuiTransferHost::progressShow(bool visible) {
    flushStatus();
    m_frame.progressShow(visible);
}
void GuiTransferHost::progressRange(uint32_t total) {
    m_frame.progressRange(total);
}
// Moved for every block as well; a progress bar repaints itself at once when it grows.
void GuiTransferHost::progressPos(uint32_t position) {
    m_pendingProgress = position;
    m_progressPending = true;
}

// The target is read at every notice: a hand-over may have named a new one between sends.
void GuiTransferHost::notify(uint32_t wParam, uint32_t lParam) {
    m_notify.send(m_state.linkFolder, m_state.notifyWindow, wParam, lParam);
}

bool GuiTransferHost::selectDeviceFile(bool receive, MachineDef& machine, std::string& path) {
    return m_files.selectDeviceFile(&m_frame, receive, machine, path);
}

void GuiTransferHost::showError(const std::string& text) {
    flushStatus();
    QMessageBox::critical(&m_frame, QString::fromUtf8(m_state.product[ProductName]),
                          QString::fromLocal8Bit(text.c_str()));
}

bool GuiTransferHost::tickDue() {
    if (m_sincePump.isValid() && m_sincePump.elapsed() < PumpTickMillis)
        return false;
    m_sincePump.start();
    return true;
}

// Called after every character of a receive and every block of a send. Turning the event
// queue (and with it the repaints of the log pane, which coalesce until then) once a tick
// keeps the window alive and an Escape or Interrupt is seen within a tick.
void GuiTransferHost::serviceMessages() {
    if (!tickDue())
        return;
    flushStatus();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Sleeps on the event queue: the timer bounds the wait, any input ends it early, and either
// way the queue is drained before the engine looks at its line and InterruptRequest again.
void GuiTransferHost::idle(uint64_t micros) {
    if (m_clock != nullptr) {
        flushStatus();
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
    flushStatus();
    m_sincePump.start();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

uint64_t GuiTransferHost::nowMicros() {
    return m_clock != nullptr ? m_clock->nowMicros() : WexGetTickCount64();
}

const char* GuiTransferHost::text(int id) {
    return m_state.text(id);
}

} // namespace corvane::gui
