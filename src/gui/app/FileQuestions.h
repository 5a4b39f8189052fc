#pragma once
// The file questions a command asks. The frame and the transfer host ask through this
// interface, so a test answers them in advance instead of driving a modal dialog.

#include <string>

#include <QString>

#include "support/StringTable.h"

class QWidget;

namespace corvane {
struct MachineDef;
struct SendQueue;
struct SendQueueEntry;
} // namespace corvane

namespace corvane::gui {

class FileQuestions {
public:
    virtual ~FileQuestions() = default;

    // Send (`open` true): up to `capacity` existing NC files into `entries`; returns the
    // count. Receive (`open` false): one target file into entries[0]; returns 1, or 0 when
    // cancelled. The machine's DefDir/DefExt give the folder and extension to start from.
    virtual int selectNcFiles(QWidget* parent, bool open, const QString& title, MachineDef& machine,
                              SendQueueEntry* entries, int capacity) = 0;
    // The ordered send list; fills the queue's entries and returns the count (0: cancelled).
    virtual int editSendList(QWidget* parent, MachineDef& machine, SendQueue& queue) = 0;
    // The device file that stands in for the port; the chosen folder goes to DefDir.
    virtual bool selectDeviceFile(QWidget* parent, bool receive, MachineDef& machine,
                                  std::string& path) = 0;
    // Restart from...: the place in `program` to restart from ("T2", "N120", "L40"); false
    // when cancelled. Only a place the restart planner allows is answered.
    virtual bool chooseRestart(QWidget* parent, const std::string& program, std::string& where) {
        (void)parent;
        (void)program;
        (void)where;
        return false;
    }
};

// The real dialogs.
class DialogFileQuestions : public FileQuestions {
public:
    explicit DialogFileQuestions(Language language) : m_language(language) {}
    int selectNcFiles(QWidget* parent, bool open, const QString& title, MachineDef& machine,
                      SendQueueEntry* entries, int capacity) override;
    int editSendList(QWidget* parent, MachineDef& machine, SendQueue& queue) override;
    bool selectDeviceFile(QWidget* parent, bool receive, MachineDef& machine,
                          std::string& path) override;
    bool chooseRestart(QWidget* parent, const std::string& program, std::string& where) override;

private:
    Language m_language;
};

} // namespace corvane::gui
