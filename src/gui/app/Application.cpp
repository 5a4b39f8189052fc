#include "app/Application.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <QDir>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>
#include <QTranslator>

#include "app/CommandIds.h"
#include "app/ConfigLocation.h"
#include "app/FileQuestions.h"
#include "app/FrameWindow.h"
#include "app/HandOverRecord.h"
#include "app/HelpLocation.h"
#include "app/InstanceLink.h"
#include "app/LinkFolder.h"
#include "app/MachineFileLoad.h"
#include "app/NotifyLink.h"
#include "support/ArgumentTokens.h"
#include "support/StringIds.h"
#include "transfer/LineSettings.h"

namespace corvane::gui {

namespace {

Colour toColour(const QColor& colour) {
    return static_cast<Colour>(colour.red()) | (static_cast<Colour>(colour.green()) << 8) |
           (static_cast<Colour>(colour.blue()) << 16);
}

// The desktop's language decides unless the command line forces one; anything without a
// Japanese table entry falls back to English inside the table itself.
Language systemLanguage() {
    const QStringList languages = QLocale::system().uiLanguages();
    if (!languages.isEmpty() && languages.first().startsWith(QStringLiteral("ja")))
        return Language::Japanese;
    return Language::English;
}

} // namespace

CorvaneApp::CorvaneApp(std::string executablePath, std::vector<std::string> arguments)
    : m_executablePath(std::move(executablePath)), m_arguments(std::move(arguments)) {}

CorvaneApp::~CorvaneApp() = default;

bool CorvaneApp::start() {
    std::vector<const char*> argv;
    for (const std::string& argument : m_arguments)
        argv.push_back(argument.c_str());
    const std::string commandLine = JoinArguments(static_cast<int>(argv.size()), argv.data());

    StartupEnvironment env;
    env.executablePath = m_executablePath;
    std::error_code error;
    env.baseFolder = std::filesystem::current_path(error).string();
    env.defaultConfigPath = UserConfigFilePath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    env.fileSize = [](const std::string& path) -> std::optional<uint64_t> {
        std::error_code e;
        if (!std::filesystem::is_regular_file(path, e))
            return std::nullopt;
        const auto size = std::filesystem::file_size(path, e);
        return e ? std::nullopt : std::optional<uint64_t>(size);
    };
    env.fileExists = [](const std::string& path) {
        std::error_code e;
        return std::filesystem::is_regular_file(path, e);
    };

    StartupOptions options = ReadStartupOptions(commandLine.c_str(), env);
    for (const std::string& refused : options.Refused)
        std::fprintf(stderr, "corvane: too long, not used: %s\n", refused.c_str());
    m_state.flags = options.flags;
    m_state.queue = options.Queue;
    m_state.notifyWindow = options.NotifyWindow;
    prepareLinkFolder();
    // A caller that does not listen (any more) gets nothing, as a window that is gone would.
    if (m_state.notifyWindow != 0 &&
        !NotifyLink::isListening(m_state.linkFolder, m_state.notifyWindow))
        m_state.notifyWindow = 0;
    m_state.configFilePath = options.ConfigFilePath;
    chooseLanguage();
    // The manual in the interface language, which may follow the desktop's.
    m_state.helpFilePath = LocateHelpFile(m_executablePath, m_state.language, env.fileExists);
    LoadProductStrings(m_state.language, m_executablePath, m_state.product);
    m_files = std::make_unique<DialogFileQuestions>(m_state.language);
    loadConfiguration();
    // Before the hand-over, so that a running window is not given a send nobody agreed to.
    if (m_state.flags.Ask && m_state.queue.Count > 0 && !confirmQueuedSend(options.MachinePath))
        m_state.queue.Count = 0;

    if (!m_state.flags.Create && m_state.config.OneInstance != 0 &&
        handOverToRunningInstance(options.MachinePath)) {
        m_handedOver = true;
        return false;
    }

    takeMachineFromCommandLine(options.MachinePath);
    createFrame();
    // Before the unattended send, so that callers can query and interrupt it.
    startInstanceServer();

    if (m_state.queue.Count > 0) {
        m_frame->dispatchCommand(CmdQueueSend);
        if (m_state.flags.Exit) {
            closeLink();
            m_frame.reset();
            return false;
        }
    }
    return true;
}

// Without a private folder there is no link at all: this run neither finds another instance
// nor can be found, rather than talk through a place other users can reach.
void CorvaneApp::prepareLinkFolder() {
    const uint32_t uid = CurrentUserId();
    const std::string folder =
        LinkFolderPath(std::getenv("XDG_RUNTIME_DIR"), QDir::tempPath().toStdString(), uid);
    std::string error;
    if (PrepareLinkFolder(folder, uid, &error) == 0) {
        std::fprintf(stderr, "corvane: instance link not used: %s\n", error.c_str());
        m_state.linkFolder.clear();
        return;
    }
    m_state.linkFolder = folder;
}

// The running instance gets the machine, the queued files and the notify target, or with
// none of them only the request to come to the front. Several files go as a list: the record
// opens it with the first, each further file follows, and the command 5000 sends them as one
// send. True when an instance answered.
bool CorvaneApp::handOverToRunningInstance(const std::string& machinePath) {
    if (m_state.linkFolder.empty())
        return false;
    LinkClient client;
    if (!client.connectTo(LinkServerPath(m_state.linkFolder), 2000))
        return false;
    const std::string file = m_state.queue.Count > 0 ? m_state.queue.Entries[0].Name : "";
    const bool list = m_state.queue.Count > 1;
    auto record = EncodeHandOver(machinePath, file, m_state.notifyWindow, list);
    if (!record) {
        std::fprintf(stderr, "corvane: path too long to hand over, only activating: %s %s\n",
                     machinePath.c_str(), file.c_str());
        record = EncodeHandOver("", "", 0);
    }
    const std::optional<int32_t> answer =
        client.request(LinkKindHandOverRecord, record->data(), record->size(), 5000);
    if (!answer) {
        std::fprintf(stderr, "corvane: the running instance did not answer\n");
        return true;
    }
    // 1: the list is open (a window that is busy, or could not read the machine, says 0 and
    // sends nothing).
    if (!list || *answer != 1)
        return true;
    for (int i = 1; i < m_state.queue.Count; ++i) {
        const std::string more = m_state.queue.Entries[i].Name;
        const std::vector<uint8_t> path(more.c_str(), more.c_str() + more.size() + 1);
        if (!client.request(LinkKindHandOverMore, path.data(), path.size(), 5000)) {
            std::fprintf(stderr, "corvane: the running instance did not answer\n");
            return true;
        }
    }
    const uint32_t send = CmdQueueSend;
    const uint8_t command[4] = {uint8_t(send), uint8_t(send >> 8), uint8_t(send >> 16),
                                uint8_t(send >> 24)};
    if (!client.request(LinkKindCommand, command, sizeof command, 5000))
        std::fprintf(stderr, "corvane: the running instance did not answer\n");
    return true;
}

// The question names the machine the files would go to and its port: the one named with
// "MDF=", else the configured one.
bool CorvaneApp::confirmQueuedSend(const std::string& machinePath) const {
    QString files;
    for (int i = 0; i < m_state.queue.Count; ++i)
        files += QString::fromLocal8Bit(m_state.queue.Entries[i].Name) + QLatin1Char('\n');
    MachineDef machine = m_state.machine;
    std::string machineName = m_state.config.McnFile;
    if (!machinePath.empty()) {
        machineName = machinePath;
        MachineDefReadWhole(machinePath.c_str(), machine, nullptr);
    }
    const QString machineText = machineName.empty()
                                    ? QString::fromUtf8(m_state.text(IDS_MACHINE_OF_CONFIGURATION))
                                    : QString::fromLocal8Bit(machineName.c_str());
    const QString portText = machine.config.OutofFile == 1
                                 ? QString::fromUtf8(m_state.text(IDS_PORT_DEVICE_FILE))
                                 : QString::fromLocal8Bit(SerialDeviceName(machine.line).c_str());
    // "%s" by hand, one after the other: a path may itself hold a "%s".
    QString located = QString::fromUtf8(m_state.text(IDS_FMT_ASK_SEND_MACHINE));
    const qsizetype first = located.indexOf(QStringLiteral("%s"));
    if (first >= 0)
        located.replace(first, 2, machineText);
    const qsizetype second = located.indexOf(QStringLiteral("%s"), first + machineText.size());
    if (first >= 0 && second >= 0)
        located.replace(second, 2, portText);
    const QString question = QString::fromUtf8(m_state.text(IDS_FMT_ASK_SEND))
                                 .replace(QStringLiteral("%s"), files.trimmed()) +
                             QStringLiteral("\n\n") + located;
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(m_state.product[ProductName]),
                    question, QMessageBox::Yes | QMessageBox::No);
    box.setObjectName(QStringLiteral("askSendBox"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void CorvaneApp::startInstanceServer() {
    if (m_state.linkFolder.empty())
        return;
    m_linkHandler = std::make_unique<LinkRequestHandler>(*m_frame, m_state);
    m_linkServer = std::make_unique<InstanceServer>(*m_linkHandler);
    std::string error;
    const InstanceServer::Listen result =
        m_linkServer->listen(LinkServerPath(m_state.linkFolder), &error);
    // InUse: another instance started with "CREATE" (or without OneInstance) keeps the link.
    if (result != InstanceServer::Listen::Listening) {
        if (result == InstanceServer::Listen::Failed)
            std::fprintf(stderr, "corvane: instance link not used: %s\n", error.c_str());
        closeLink();
    }
}

void CorvaneApp::closeLink() {
    m_linkServer.reset();
    m_linkHandler.reset();
}

void CorvaneApp::chooseLanguage() {
    const std::optional<Language> forced = ForcedLanguage(m_state.flags);
    m_state.language = forced ? *forced : systemLanguage();
    if (m_state.language != Language::Japanese)
        return;
    // Without this the buttons of message boxes and the file and colour dialogs would stay
    // English in a Japanese window. A missing translation file only leaves them English.
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator.get()))
        m_qtTexts = std::move(translator);
}

void CorvaneApp::loadConfiguration() {
    ConfigEnvironment env;
    const QPalette palette = QGuiApplication::palette();
    env.colours.window = toColour(palette.color(QPalette::Base));
    env.colours.windowText = toColour(palette.color(QPalette::Text));
    Rect workArea;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        workArea =
            Rect{area.left(), area.top(), area.left() + area.width(), area.top() + area.height()};
        env.workArea = &workArea;
    }
    LoadConfig(m_state.configFilePath.c_str(), 1, m_state.config, m_state.machine, env,
               m_state.legacyColours);
}

// A machine named with "MDF=" is for this run only; one that cannot be read is told, and the
// files named with it are not sent with the configured machine instead.
void CorvaneApp::takeMachineFromCommandLine(const std::string& machinePath) {
    std::snprintf(m_state.SavedMcnFile, sizeof m_state.SavedMcnFile, "%s", m_state.config.McnFile);
    if (machinePath.empty())
        return;
    if (!TakeMachineFile(m_state, nullptr, machinePath,
                         m_state.queue.Count > 0 ? IDS_FILES_NOT_SENT_WITH_MACHINE : 0)) {
        m_state.queue.Count = 0;
        return;
    }
    m_state.flags.MachineFromCommandLine = true;
    std::snprintf(m_state.config.McnFile, sizeof m_state.config.McnFile, "%s", machinePath.c_str());
}

void CorvaneApp::createFrame() {
    m_frame = std::make_unique<FrameWindow>(m_state, *m_files);
    const Rect& pos = m_state.config.WindowPos;
    m_frame->move(pos.left, pos.top);
    m_frame->resize(std::max(1, pos.right - pos.left), std::max(1, pos.bottom - pos.top));
    if (m_state.flags.Topmost)
        m_frame->setWindowFlag(Qt::WindowStaysOnTopHint, true);

    switch (m_state.config.WindowShow) {
    case 2:
        m_frame->showMinimized();
        break;
    case 3:
        m_frame->showMaximized();
        break;
    default:
        m_frame->show();
        break;
    }
    m_frame->applyBarSettings();
    m_frame->refreshTitle();
}

int CorvaneApp::finish() {
    if (m_state.flags.MachineFromCommandLine)
        std::snprintf(m_state.config.McnFile, sizeof m_state.config.McnFile, "%s",
                      m_state.SavedMcnFile);
    std::string error;
    int saved = EnsureConfigFolder(m_state.configFilePath, &error);
    if (saved != 0)
        saved = SaveConfigFile(m_state.configFilePath.c_str(),
                               m_state.flags.MachineFromCommandLine ? 0 : 1, m_state.config,
                               m_state.machine, &error);
    if (saved == 0) {
        QMessageBox::critical(nullptr, QString::fromUtf8(m_state.product[ProductName]),
                              QString::fromLocal8Bit(error.c_str()));
    }
    closeLink();
    m_frame.reset();
    return saved;
}

} // namespace corvane::gui
