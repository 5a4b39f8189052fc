#pragma once
// The user manual: HTML pages shipped with the program, opened in the desktop's browser.

#include <functional>
#include <string>

#include <QString>

#include "support/StringTable.h"

class QUrl;
class QWidget;

namespace corvane::gui {

constexpr int HelpContents = 0; // command: the manual's first page
constexpr int HelpTopic = 15;   // command: the page of `topic`

// Help topics of the dialogs: the machine sheet's pages and the property dialog.
constexpr int HelpTopicCommunication = 1000;
constexpr int HelpTopicSend = 1001;
constexpr int HelpTopicReceive = 1002;
constexpr int HelpTopicOptions = 1003;
constexpr int HelpTopicProperty = 1010;

// Opens the manual whose first page is `helpFilePath`; when `command` is HelpTopic, at the page
// and anchor of `topic` (HelpTopicPage), or at the first page with that anchor when the topic's
// page is missing.
// Returns 1 when the page was handed to the desktop, 0 when the manual is not there, -1 when
// the desktop has no program to show it. `open` stands in for the desktop (tests); empty: the
// desktop's own.
using ManualOpener = std::function<bool(const QUrl& page)>;
int WexShowHelp(const std::string& helpFilePath, int command, int topic,
                const ManualOpener& open = {});

// Says why the manual was not shown (`shown` as WexShowHelp returned it; 1 says nothing), with
// the manual's path, in a box over `parent` titled `title`. The box does not block: the manual
// may be asked for during a transfer.
void TellManualNotShown(QWidget* parent, const QString& title, Language language,
                        const std::string& helpFilePath, int shown);

} // namespace corvane::gui
