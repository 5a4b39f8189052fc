#include "settings/MachineSheetHooks.h"

#include <QMessageBox>

#include "settings/MachineDef.h"
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
    return OpenDefaultLine(machine, DirectionSend, nullptr);
}

std::vector<std::string> listSheetPorts() {
    return ListSerialPorts();
}

} // namespace corvane::gui
