#pragma once
// The application object: owns the program-wide state and the frame, and runs start-up and
// the save at exit around the event loop that main runs.

#include <memory>
#include <string>
#include <vector>

#include "app/AppState.h"

namespace corvane::gui {

class DialogFileQuestions;
class FrameWindow;

class CorvaneApp {
public:
    // `arguments`: the program's arguments without the program name, as the shell split
    // them (Qt's own options already taken out).
    CorvaneApp(std::string executablePath, std::vector<std::string> arguments);
    ~CorvaneApp();
    CorvaneApp(const CorvaneApp&) = delete;
    CorvaneApp& operator=(const CorvaneApp&) = delete;

    // Everything up to the event loop. False when the run is already over (an unattended send
    // with EXIT): nothing is to be saved then.
    bool start();
    // The save at exit. 1 when the configuration was written; a failure is shown to the user.
    int finish();

    AppState& state() { return m_state; }
    FrameWindow* frame() { return m_frame.get(); }

private:
    void chooseLanguage();
    void loadConfiguration();
    void takeMachineFromCommandLine(const std::string& machinePath);
    void createFrame();

    std::string m_executablePath;
    std::vector<std::string> m_arguments;
    AppState m_state;
    std::unique_ptr<DialogFileQuestions> m_files;
    std::unique_ptr<FrameWindow> m_frame;
};

} // namespace corvane::gui
