#pragma once
// The popups under the drop-down arrows of the Send and Machine buttons: the files sent last
// and the machine files opened last, most recent first, and an item to open another one.
// Each item carries its command id as data; the frame dispatches it like any other command.

#include "settings/AppConfig.h"
#include "support/StringTable.h"

class QMenu;

namespace corvane::gui {

enum class HistoryKind { NcFiles, Machines };

// Refills `menu` with the history of `kind` from `config`. Items are numbered 1 to 9 and then
// all 0, so the first nine can be picked by their digit; the name comes first and the folder
// after a tab. While `enabled` is false (a transfer runs) every item is shown greyed, not
// hidden, so the user still sees what is there.
void fillHistoryMenu(QMenu& menu, HistoryKind kind, const AppConfig& config, Language language,
                     bool enabled);

} // namespace corvane::gui
