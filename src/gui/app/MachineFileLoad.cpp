#include "app/MachineFileLoad.h"

#include <QFile>
#include <QMessageBox>

#include "common/AppState.h"
#include "support/StringIds.h"

namespace corvane::gui {

bool ReadMachineFile(AppState& state, const std::string& path, std::string* reason) {
    std::string error;
    if (path.empty() || path.size() >= sizeof state.config.McnFile) {
        if (reason != nullptr)
            *reason = path.empty() ? "no machine file named" : "the path is too long";
        return false;
    }
    if (MachineDefReadWhole(path.c_str(), state.machine, &error) == 0) {
        if (reason != nullptr)
            *reason = error;
        return false;
    }
    return true;
}

void TellMachineFileNotRead(const AppState& state, QWidget* parent, const std::string& path,
                            const std::string& reason, int consequenceId) {
    // The reasons of the reader start with the path, which the box shows on a line of its own.
    const std::string prefix = path + ": ";
    const std::string why =
        reason.compare(0, prefix.size(), prefix) == 0 ? reason.substr(prefix.size()) : reason;
    QString text = QString::fromUtf8(state.text(IDS_SHEET_READ_FAILED)) + QStringLiteral("\n\n") +
                   QFile::decodeName(path.c_str()) + QStringLiteral("\n") +
                   QString::fromLocal8Bit(why.c_str()) + QStringLiteral("\n\n") +
                   QString::fromUtf8(state.text(IDS_MACHINE_IN_USE_KEPT));
    if (consequenceId != 0)
        text += QLatin1Char(' ') + QString::fromUtf8(state.text(consequenceId));
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(state.product[ProductName]), text,
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("machineFileNotReadBox"));
    box.exec();
}

bool TakeMachineFile(AppState& state, QWidget* parent, const std::string& path, int consequenceId) {
    std::string reason;
    if (ReadMachineFile(state, path, &reason))
        return true;
    TellMachineFileNotRead(state, parent, path, reason, consequenceId);
    return false;
}

} // namespace corvane::gui
