// The window program: the application object runs start-up, Qt's loop runs the window, and
// the application object saves the configuration afterwards.

#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>
#include <QIcon>

#include "app/Application.h"
#include "app/CommandLineHelp.h"

int main(int argc, char** argv) {
    // Answered before Qt looks for a display: they must work on a terminal without one.
    if (const auto answer = corvane::gui::CommandLineAnswer(
            std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc))) {
        std::fputs(answer->c_str(), stdout);
        return 0;
    }
    QApplication qt(argc, argv); // takes Qt's own options out of argv
    // Drawn at every size the desktop asks for (resources/icons/corvane.qrc).
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/corvane-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    corvane::gui::CorvaneApp app(QCoreApplication::applicationFilePath().toStdString(),
                                 std::move(arguments));
    if (!app.start())
        return 0;
    QApplication::exec();
    app.finish();
    return 0;
}
