#pragma once
// The engines' host while the service runs them: every call goes on to the host of the front
// end (a terminal, a test's recording host), with what an unattended line adds:
//  * log lines and errors carry "[NAME] " so the lines of many machines can share one log;
//  * every pump and every wait slice also gives the service its turn (the sink's own
//    input/output, commands from outside, a stop request);
//  * the status (activity, file, position, total) is kept and handed to the sink when it
//    changes, with "held" while the machine holds the line;
//  * while the port is being retried, the same error is shown once, not every 5 s.

#include <functional>
#include <string>

#include "serve/EventSink.h"
#include "transfer/TransferHost.h"

namespace corvane::serve {

class ServiceHost : public TransferHost {
public:
    ServiceHost(TransferHost& inner, std::string lineName, EventSink* sink);

    // Called at every pump and after every wait slice.
    void setOnPump(std::function<void()> onPump) { m_onPump = std::move(onPump); }

    // The service's own log lines.
    void log(const std::string& text);
    // Whether the engines' own log lines (headers, totals, blocks) go on to the log; the
    // service's lines and every error always do.
    void setEngineLog(bool on) { m_engineLog = on; }

    // The activity changes; position and total start again at 0.
    void setActivity(LineActivity activity, const std::string& file = {},
                     const std::string& reason = {});
    LineActivity activity() const { return m_status.activity; }
    void setPosition(uint64_t position);

    // While set (the port is being retried), an error equal to the last one shown is not
    // shown again, and the engines' log lines are left out; the service's own lines stay.
    void setQuietRepeats(bool quiet);
    // Engine log lines that name `path` are left out: the temporary file a receive is
    // written to means nothing to a reader, and the record line names the file stored. Empty:
    // none.
    void hidePath(std::string path) { m_hiddenPath = std::move(path); }
    // The last error shown or held back, for the journal's message.
    const std::string& lastError() const { return m_lastError; }
    void clearLastError() { m_lastError.clear(); }

    void logPrint(int colour, const std::string& text) override;
    void logShowFlow(const std::string& text) override;
    void setStatusText(int part, const std::string& text) override;
    void setFrameTitle(int direction, const char* file, bool active) override;
    void progressShow(bool visible) override;
    void progressRange(uint32_t total) override;
    void progressPos(uint32_t position) override;
    void notify(uint32_t wParam, uint32_t lParam) override { m_inner.notify(wParam, lParam); }
    bool selectDeviceFile(bool receive, MachineDef& machine, std::string& path) override {
        return m_inner.selectDeviceFile(receive, machine, path);
    }
    void showError(const std::string& text) override;
    void serviceMessages() override;
    void idle(uint64_t micros) override;
    uint64_t nowMicros() override { return m_inner.nowMicros(); }
    const char* text(int id) override { return m_inner.text(id); }

private:
    void publish();
    void pump();

    TransferHost& m_inner;
    std::string m_prefix;
    EventSink* m_sink;
    std::function<void()> m_onPump;
    LineStatus m_status;
    LineStatus m_published;
    bool m_everPublished = false;
    bool m_held = false;
    bool m_quietRepeats = false;
    bool m_inPump = false;
    bool m_engineLog = true;
    std::string m_lastError;
    std::string m_hiddenPath;
};

} // namespace corvane::serve
