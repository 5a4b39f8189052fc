#pragma once
// The application object: owns the program-wide state and the frame, and runs start-up and
// the save at exit around the event loop that main runs.

#include <memory>
#include <string>
#include <vector>

#include "common/AppState.h"

class QTranslator;

namespace corvane::gui {

class DialogFileQuestions;
class FrameWindow;
class InstanceServer;
class LinkRequestHandler;

class CorvaneApp {
public:
    // `arguments`: the program's arguments without the program name, as the shell split
    // them (Qt's own options already taken out).
    CorvaneApp(std::string executablePath, std::vector<std::string> arguments);
    ~CorvaneApp();
    CorvaneApp(const CorvaneApp&) = delete;
    CorvaneApp& operator=(const CorvaneApp&) = delete;

    // Everything up to the event loop. False when the run is already over: an unattended send
    // with EXIT, or the request was handed to the instance that already runs (handedOver()).
    // Nothing is to be saved then.
    bool start();
    // Whether start() ended this run by handing it to the running instance.
    bool handedOver() const { return m_handedOver; }
    // The save at exit. 1 when the configuration was written; a failure is shown to the user.
    int finish();

    AppState& state() { return m_state; }
    FrameWindow* frame() { return m_frame.get(); }

private:
    void chooseLanguage();
    void loadConfiguration();
    void takeMachineFromCommandLine(const std::string& machinePath);
    void createFrame();
    void prepareLinkFolder();
    bool handOverToRunningInstance(const std::string& machinePath);
    // "ASK": whether the user wants the queued files sent.
    bool confirmQueuedSend(const std::string& machinePath) const;
    void startInstanceServer();
    void closeLink();

    std::string m_executablePath;
    std::vector<std::string> m_arguments;
    AppState m_state;
    std::unique_ptr<DialogFileQuestions> m_files;
    // Qt's own texts (standard buttons, file and colour dialogs) in Japanese.
    std::unique_ptr<QTranslator> m_qtTexts;
    std::unique_ptr<FrameWindow> m_frame;
    // After the frame, so they go first: both act on it.
    std::unique_ptr<LinkRequestHandler> m_linkHandler;
    std::unique_ptr<InstanceServer> m_linkServer;
    bool m_handedOver = false;
};

} // namespace corvane::gui
