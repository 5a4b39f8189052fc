#include "transfer/RestartDialog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "restart/RestartPlanner.h"
#include "support/StringIds.h"

namespace corvane {

namespace {

QString text(Language language, int id) {
    return QString::fromUtf8(WexLoadString(language, id));
}

// The restarted program cut after its header and the first `tailLines` lines of the rest.
std::string previewOf(std::FILE* program, const RestartPlan& plan, int tailLines) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    if (out == nullptr)
        return {};
    std::string text;
    if (WriteRestartProgram(program, plan, out)) {
        std::fflush(out);
        text.assign(buffer, size);
    }
    std::fclose(out);
    std::free(buffer);
    // Start, comment and header, then the tail's first lines.
    const auto startEnd = text.begin() + static_cast<std::ptrdiff_t>(
                                             std::min<uint64_t>(plan.startLength, text.size()));
    const size_t keep = static_cast<size_t>(std::count(text.begin(), startEnd, '\n')) + 1 +
                        plan.header.size() + static_cast<size_t>(tailLines);
    size_t lines = 0;
    size_t at = 0;
    while (at < text.size() && lines < keep) {
        const size_t end = text.find('\n', at);
        at = end == std::string::npos ? text.size() : end + 1;
        ++lines;
    }
    return text.substr(0, at);
}

} // namespace

RestartDialog::RestartDialog(const std::string& program, Language language, QWidget* parent)
    : QDialog(parent), m_program(program), m_language(language) {
    setWindowTitle(text(language, IDS_RESTART_TITLE));
    setObjectName(QStringLiteral("restartDialog"));
    auto* layout = new QVBoxLayout(this);

    layout->addWidget(new QLabel(text(language, IDS_RESTART_TOOL_CHANGES), this));
    m_tools = new QListWidget(this);
    m_tools->setObjectName(QStringLiteral("toolChanges"));
    layout->addWidget(m_tools);

    layout->addWidget(new QLabel(text(language, IDS_RESTART_PLACE), this));
    m_place = new QLineEdit(this);
    m_place->setObjectName(QStringLiteral("restartPlace"));
    layout->addWidget(m_place);

    layout->addWidget(new QLabel(text(language, IDS_RESTART_PREVIEW), this));
    m_preview = new QPlainTextEdit(this);
    m_preview->setObjectName(QStringLiteral("restartPreview"));
    m_preview->setReadOnly(true);
    m_preview->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(m_preview, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_send = buttons->addButton(text(language, IDS_RESTART_SEND), QDialogButtonBox::AcceptRole);
    m_send->setObjectName(QStringLiteral("restartSend"));
    m_send->setEnabled(false);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    if (std::FILE* file = std::fopen(program.c_str(), "rb")) {
        for (const ToolChange& change : ListToolChanges(file)) {
            const QString where =
                QStringLiteral("T%1").arg(change.tool) +
                (change.occurrence > 1 ? QStringLiteral(":%1").arg(change.occurrence) : QString());
            auto* item = new QListWidgetItem(QStringLiteral("%1\t%2\tL%3")
                                                 .arg(where, QString::fromUtf8(change.comment))
                                                 .arg(change.line),
                                             m_tools);
            item->setData(Qt::UserRole, where);
        }
        std::fclose(file);
    }
    connect(m_tools, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item != nullptr)
            m_place->setText(item->data(Qt::UserRole).toString());
    });
    connect(m_place, &QLineEdit::textChanged, this, [this] { showPlan(); });
    resize(640, 560);
}

std::string RestartDialog::place() const {
    return m_place->text().trimmed().toStdString();
}

void RestartDialog::showPlan() {
    m_send->setEnabled(false);
    RestartPlace where;
    if (!ParseRestartPlace(place(), where)) {
        m_preview->setPlainText(place().empty() ? QString()
                                                : text(m_language, IDS_RESTART_NOT_A_PLACE));
        return;
    }
    std::FILE* file = std::fopen(m_program.c_str(), "rb");
    if (file == nullptr)
        return;
    const RestartPlan plan = PlanRestart(file, where);
    if (plan.allowed) {
        m_preview->setPlainText(QString::fromUtf8(previewOf(file, plan, PreviewTailLines)));
        m_send->setEnabled(true);
    } else {
        m_preview->setPlainText(QString::fromUtf8(plan.refusal));
    }
    std::fclose(file);
}

} // namespace corvane
