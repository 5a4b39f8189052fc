#include "settings/MachineSheetHooks.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include "settings/MachineDef.h"
#include "transfer/Port.h"
#include "transfer/PosixSerialLine.h"
#include "transfer/SerialPortList.h"
#include "transfer/TransferHost.h"

namespace corvane::gui {

bool askWarningYesNo(QWidget* parent, const QString& caption, const QString& text,
                     const QString& detail) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setObjectName(QStringLiteral("openErrorQuestion"));
    if (!detail.isEmpty())
        box.setInformativeText(detail);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void tellWarning(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox::warning(parent, caption, text);
}

OpenedLine openSheetPort(const MachineDef& machine) {
    // A device server takes a moment to answer: the sheet keeps painting meanwhile, but takes
    // no input, so a second OK cannot start a second check inside the first.
    QElapsedTimer clock;
    clock.start();
    return FinishOpen(
        OpenDefaultLine(machine, DirectionSend, nullptr),
        [&clock] { return static_cast<uint64_t>(clock.nsecsElapsed() / 1000); },
        [](uint64_t micros) {
            QEventLoop loop;
            QTimer::singleShot(static_cast<int>(micros / 1000), &loop, &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
            return true;
        });
}

std::vector<std::string> listSheetPorts() {
    return ListSerialPorts();
}

} // namespace corvane::gui
