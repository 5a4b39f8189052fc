#pragma once
// A folder of NC files with chosen sizes and write times, and a file dialog answered in
// advance: each call takes the next prepared answer (nothing left: cancelled) and records
// what it was asked.

#include "transfer/FileSelection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>

namespace corvane::test {

class NcFolder {
public:
    // Sparse files: the size is what matters, not the bytes.
    QString make(const QString& name, qint64 size, const QDateTime& written) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.resize(size);
            file.setFileTime(written, QFileDevice::FileModificationTime);
            file.close();
        }
        return path;
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString folder() const { return m_dir.path() + QLatin1Char('/'); }

private:
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/nc-programs-XXXXXX")};
};

class ScriptedDialog {
public:
    void answer(const QStringList& paths) { m_answers << paths; }
    int calls() const { return static_cast<int>(m_requests.size()); }
    const FileDialogRequest& lastRequest() const { return m_requests.back(); }
    QWidget* lastOwner() const { return m_lastOwner; }

    FileChooser chooser(Language language = Language::English) {
        return FileChooser{language, [this](QWidget* owner, const FileDialogRequest& request) {
                               m_lastOwner = owner;
                               m_requests << request;
                               return m_answers.isEmpty() ? QStringList() : m_answers.takeFirst();
                           }};
    }

private:
    QList<QStringList> m_answers;
    QList<FileDialogRequest> m_requests;
    QWidget* m_lastOwner = nullptr;
};

} // namespace corvane::test
