#pragma once
// Everything a transfer engine or the port layer needs from the program around it.
// The window implements it with Qt, the terminal front end with stdout/stderr and SIGINT,
// tests with a recording host on a clock they move themselves.

#include <cstdint>
#include <string>

namespace corvane {

struct MachineDef;

enum LogColour : int { LogText = 0, LogControl = 1 };
enum TransferDirection : int { DirectionReceive = 1, DirectionSend = 2 };
enum StatusPart : int { StatusActivity = 0, StatusFlow = 1, StatusBlocks = 2, StatusRemaining = 3 };

class TransferHost {
public:
    virtual ~TransferHost() = default;

    // The log pane. A text that starts with a form feed clears it. Both pump messages.
    virtual void logPrint(int colour, const std::string& text) = 0;
    virtual void logShowFlow(const std::string& text) = 0;

    virtual void setStatusText(int part, const std::string& text) = 0;
    // direction: 0 idle, DirectionReceive or DirectionSend; file may be null.
    virtual void setFrameTitle(int direction, const char* file, bool active) = 0;

    virtual void progressShow(bool visible) = 0;
    virtual void progressRange(uint32_t total) = 0;
    virtual void progressPos(uint32_t position) = 0;

    // NotifyMessage to the caller's window; does nothing when there is none (or it is gone).
    virtual void notify(uint32_t wParam, uint32_t lParam) = 0;

    // Lets the user choose the device file that stands in for the port. `receive` asks for an
    // existing file, otherwise for a file to write (with an overwrite question). The chosen
    // file's folder goes back into machine.config.DefDir. False when cancelled.
    virtual bool selectDeviceFile(bool receive, MachineDef& machine, std::string& path) = 0;

    // A message box with the application's name, error icon.
    virtual void showError(const std::string& text) = 0;

    // Drains pending events without blocking.
    virtual void serviceMessages() = 0;
    // Blocks on the event queue for at most `micros`, then drains it. Never spins.
    virtual void idle(uint64_t micros) = 0;
    // Monotonic microseconds.
    virtual uint64_t nowMicros() = 0;

    // A text of the string table in the language of the run.
    virtual const char* text(int id) = 0;
};

} // namespace corvane
