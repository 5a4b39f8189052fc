#pragma once
// Everything the machine property sheet asks of the world outside its own window: the file
// dialog of Open and Save, the "Open error" question, error notices, the serial devices on
// offer and the port check. The program uses the real ones; a test answers them in advance.

#include <functional>
#include <string>
#include <vector>

#include <QString>

#include "transfer/FileSelection.h"
#include "transfer/Line.h"

class QWidget;

namespace corvane {
struct MachineDef;
}

namespace corvane::gui {

class MachinePropertySheet;

// A Yes/No question with the warning icon; true for Yes. `detail` may be empty.
using SheetQuestion = std::function<bool(QWidget* parent, const QString& caption,
                                         const QString& text, const QString& detail)>;
// A notice with the warning icon and an OK button.
using SheetNotice =
    std::function<void(QWidget* parent, const QString& caption, const QString& text)>;

bool askWarningYesNo(QWidget* parent, const QString& caption, const QString& text,
                     const QString& detail);
void tellWarning(QWidget* parent, const QString& caption, const QString& text);
// The port check: the serial port of `machine` opened the way a send opens it.
OpenedLine openSheetPort(const MachineDef& machine);
// The serial devices of this computer.
std::vector<std::string> listSheetPorts();

struct MachineSheetHooks {
    FileDialogRunner fileDialog = runFileDialog;
    SheetQuestion ask = askWarningYesNo;
    SheetNotice tell = tellWarning;
    std::function<std::vector<std::string>()> listPorts = listSheetPorts;
    std::function<OpenedLine(const MachineDef&)> openPort = openSheetPort;
    // Called once each sheet is running, from inside its event loop (tests drive it here).
    std::function<void(MachinePropertySheet&)> onShown;
};

} // namespace corvane::gui
