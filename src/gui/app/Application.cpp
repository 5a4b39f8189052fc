#include "app/Application.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>

#include "app/CommandIds.h"
#include "app/ConfigLocation.h"
#include "app/FileQuestions.h"
#include "app/FrameWindow.h"
#include "support/ArgumentTokens.h"
#include "support/StringIds.h"

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
    // HOOK(notify link): whether the target listens is found out with the single-instance
    // link; until then the number is kept as given.
    m_state.notifyWindow = options.NotifyWindow;
    m_state.configFilePath = options.ConfigFilePath;
    m_state.helpFilePath = options.HelpFilePath;

    chooseLanguage();
    LoadProductStrings(m_state.language, m_executablePath, m_state.product);
    m_files = std::make_unique<DialogFileQuestions>(m_state.language);
    loadConfiguration();

    // HOOK(single instance): with OneInstance set and no "CREATE", the request is handed to a
    // running instance here and this one ends without saving.

    takeMachineFromCommandLine(options.MachinePath);
    createFrame();

    if (m_state.queue.Count > 0) {
        m_frame->dispatchCommand(CmdQueueSend);
        if (m_state.flags.Exit) {
            m_frame.reset();
            return false;
        }
    }
    return true;
}

void CorvaneApp::chooseLanguage() {
    const std::optional<Language> forced = ForcedLanguage(m_state.flags);
    m_state.language = forced ? *forced : systemLanguage();
}

void CorvaneApp::loadConfiguration() {
    ConfigEnvironment env;
    const QPalette palette = QGuiApplication::palette();
    env.colours.window = toColour(palette.color(QPalette::Base));
    env.colours.windowText = toColour(palette.color(QPalette::Text));
    Rect workArea;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        workArea = Rect{area.left(), area.top(), area.left() + area.width(),
                        area.top() + area.height()};
        env.workArea = &workArea;
    }
    LoadConfig(m_state.configFilePath.c_str(), 1, m_state.config, m_state.machine, env,
               m_state.legacyColours);
}

void CorvaneApp::takeMachineFromCommandLine(const std::string& machinePath) {
    std::snprintf(m_state.SavedMcnFile, sizeof m_state.SavedMcnFile, "%s",
                  m_state.config.McnFile);
    const FileExistsCheck exists = [](const std::string& path) {
        std::error_code e;
        return std::filesystem::is_regular_file(path, e);
    };
    if (!ShouldReadMachineFile(machinePath, exists) ||
        machinePath.size() >= sizeof m_state.config.McnFile)
        return;
    if (MachineDefRead(machinePath.c_str(), m_state.machine.line, m_state.machine.config) == 0)
        return;
    m_state.flags.MachineFromCommandLine = true;
    std::snprintf(m_state.config.McnFile, sizeof m_state.config.McnFile, "%s",
                  machinePath.c_str());
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
    m_frame.reset();
    return saved;
}

} // namespace corvane::gui
