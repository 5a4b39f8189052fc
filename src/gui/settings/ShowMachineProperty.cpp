#include "settings/ShowMachineProperty.h"

#include <algorithm>
#include <cstring>
#include <string>

#include <QFile>
#include <QTimer>

#include "app/ConfigLocation.h"
#include "common/AppState.h"
#include "settings/AppConfig.h"
#include "settings/MachinePropertySheet.h"
#include "support/StringIds.h"

namespace corvane::gui {

namespace {

constexpr int MachineHistory = 1;
constexpr int HistoryAdd = 0;

// Puts the live definition where it belongs and tells the user when that failed. A machine
// without a file of its own lives in the configuration file, as the exit keeps it; it is not
// a machine file, so it does not go into the machine history either.
bool writeLiveDefinition(AppState& state, const MachineSheetHooks& hooks, QWidget* owner) {
    const MachineDef& machine = state.machine;
    std::string error;
    bool written = false;
    QString target;
    if (state.config.McnFile[0] != '\0') {
        target = QFile::decodeName(state.config.McnFile);
        written =
            MachineDefWriteFile(state.config.McnFile, machine.line, machine.config, &error) != 0;
        if (written)
            UpdateHistory(state.config, MachineHistory, HistoryAdd, state.config.McnFile);
    } else {
        target = QFile::decodeName(state.configFilePath.c_str());
        written = EnsureConfigFolder(state.configFilePath, &error) != 0 &&
                  MachineDefWriteFile(state.configFilePath.c_str(), machine.line, machine.config,
                                      &error) != 0;
    }
    if (!written && hooks.tell) {
        hooks.tell(owner, QString::fromUtf8(state.product[ProductName]),
                   QString::fromUtf8(state.text(IDS_SHEET_WRITE_FAILED)) + QStringLiteral("\n\n") +
                       target + QStringLiteral("\n") + QString::fromLocal8Bit(error.c_str()));
    }
    return written;
}

} // namespace

int ShowMachineProperty(AppState& state, QWidget* owner, int firstPage,
                        const MachineSheetHooks& hooks) {
    using Sheet = MachinePropertySheet;
    if (firstPage >= 0 && firstPage < Sheet::PageCount)
        state.machineSheetPage = firstPage;
    int page = std::clamp(state.machineSheetPage, 0, Sheet::PageCount - 1);
    int result = Sheet::CancelId;
    for (;;) {
        char mcnFileBefore[sizeof state.config.McnFile];
        std::memcpy(mcnFileBefore, state.config.McnFile, sizeof mcnFileBefore);

        MachineSheetCopy copy = MakeSheetCopy(state.machine);
        {
            Sheet sheet(copy, state, hooks, page, owner);
            if (hooks.onShown)
                QTimer::singleShot(0, &sheet, [&sheet, &hooks] { hooks.onShown(sheet); });
            result = sheet.exec();
            // Open and Save show the sheet again where the user was.
            page = sheet.currentPage();
        }
        if (result != Sheet::OkId && result != Sheet::OpenId && result != Sheet::SaveId)
            return Sheet::CancelId;
        // Like the sheet's other settings, the page is kept only when the sheet's values are.
        state.machineSheetPage = page;

        FinishSheetCopy(copy);
        if (result == Sheet::OpenId) {
            // The sheet checked the file before it closed; should it have gone meanwhile the
            // machine stays as it was rather than fall back to bare defaults.
            MachineDefReadWhole(state.config.McnFile, state.machine, nullptr);
            continue;
        }

        state.machine = copy.def;
        if (!writeLiveDefinition(state, hooks, owner) && result == Sheet::SaveId) {
            // The new file was not written: keep naming the file the machine came from, so
            // the exit does not leave the definition behind in a file that does not exist.
            std::memcpy(state.config.McnFile, mcnFileBefore, sizeof mcnFileBefore);
        }
        if (result == Sheet::OkId)
            return Sheet::OkId;
    }
}

} // namespace corvane::gui
