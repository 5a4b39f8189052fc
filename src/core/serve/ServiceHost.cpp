#include "serve/ServiceHost.h"

#include <algorithm>
#include <cctype>

#include "support/StringIds.h"

namespace corvane::serve {

namespace {

// The send engine's closing line counts the tape characters it sent under the window's
// "byte"; beside the record's file bytes and wire bytes, a served line's log says what that
// count is. Any other line is left as it is.
std::string namedSendCount(const std::string& text, const std::string& completed) {
    const std::string head = "==== " + completed + " [";
    const std::string tail = "] byte ====";
    if (text.size() <= head.size() + tail.size() || text.compare(0, head.size(), head) != 0 ||
        text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
        return text;
    const std::string count = text.substr(head.size(), text.size() - head.size() - tail.size());
    if (!std::all_of(count.begin(), count.end(), [](unsigned char c) { return std::isdigit(c); }))
        return text;
    return head + count +
           " bytes of tape: leader and blocks, a line end as one, without start and stop "
           "codes] ====";
}

} // namespace

ServiceHost::ServiceHost(TransferHost& inner, std::string lineName, EventSink* sink)
    : m_inner(inner), m_prefix("[" + lineName + "] "), m_sink(sink) {
    m_status.line = std::move(lineName);
}

void ServiceHost::log(const std::string& text) {
    m_inner.logPrint(LogText, m_prefix + text);
}

void ServiceHost::setActivity(LineActivity activity, const std::string& file,
                              const std::string& reason) {
    m_status.activity = activity;
    m_status.file = file;
    m_status.reason = reason;
    m_status.position = 0;
    m_status.total = 0;
    m_held = false;
    publish();
}

void ServiceHost::setPosition(uint64_t position) {
    if (m_status.position == position)
        return;
    m_status.position = position;
    publish();
}

void ServiceHost::setQuietRepeats(bool quiet) {
    m_quietRepeats = quiet;
}

void ServiceHost::publish() {
    if (!m_sink)
        return;
    LineStatus shown = m_status;
    if (m_held &&
        (shown.activity == LineActivity::Sending || shown.activity == LineActivity::Receiving))
        shown.activity = LineActivity::Held;
    if (m_everPublished && shown.activity == m_published.activity &&
        shown.file == m_published.file && shown.position == m_published.position &&
        shown.total == m_published.total && shown.reason == m_published.reason)
        return;
    m_published = shown;
    m_everPublished = true;
    m_sink->statusChanged(shown);
}

void ServiceHost::logPrint(int colour, const std::string& text) {
    // The engines' own lines are the verbose log's. While the port is being retried every
    // attempt would log its opening and closing lines: tens of thousands of lines a day that
    // say nothing the service has not said once.
    if (!m_engineLog || m_quietRepeats ||
        (!m_hiddenPath.empty() && text.find(m_hiddenPath) != std::string::npos)) {
        pump();
        return;
    }
    // The form feed that clears the log pane is not a line; it goes on as it is.
    if (!text.empty() && text[0] == '\f')
        m_inner.logPrint(colour, text);
    else
        m_inner.logPrint(colour, m_prefix + namedSendCount(text, m_inner.text(IDS_COMPLETED_SEND)));
    pump();
}

void ServiceHost::logShowFlow(const std::string& text) {
    if (m_engineLog)
        m_inner.logShowFlow(m_prefix + text);
    pump();
}

void ServiceHost::setStatusText(int part, const std::string& text) {
    m_inner.setStatusText(part, text);
    if (part == StatusFlow) {
        const bool held = !text.empty();
        if (held != m_held) {
            m_held = held;
            publish();
        }
    }
}

void ServiceHost::setFrameTitle(int direction, const char* file, bool active) {
    m_inner.setFrameTitle(direction, file, active);
}

void ServiceHost::progressShow(bool visible) {
    m_inner.progressShow(visible);
}

void ServiceHost::progressRange(uint32_t total) {
    m_inner.progressRange(total);
    if (m_status.total != total) {
        m_status.total = total;
        publish();
    }
}

void ServiceHost::progressPos(uint32_t position) {
    m_inner.progressPos(position);
    setPosition(position);
}

void ServiceHost::showError(const std::string& text) {
    const bool repeat = text == m_lastError;
    m_lastError = text;
    if (m_quietRepeats && repeat)
        return;
    m_inner.showError(m_prefix + text);
}

void ServiceHost::serviceMessages() {
    m_inner.serviceMessages();
    pump();
}

void ServiceHost::idle(uint64_t micros) {
    m_inner.idle(micros);
    pump();
}

void ServiceHost::pump() {
    // The service's turn may write a journal line and log it; that must not come back here.
    if (m_inPump)
        return;
    m_inPump = true;
    if (m_sink)
        m_sink->service();
    if (m_onPump)
        m_onPump();
    m_inPump = false;
}

} // namespace corvane::serve
