// The window program: the application object runs start-up, Qt's loop runs the window, and
// the application object saves the configuration afterwards.

#include <string>
#include <vector>

#include <QApplication>

#include "app/Application.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv); // takes Qt's own options out of argv
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    corvane::gui::CorvaneApp app(QCoreApplication::applicationFilePath().toStdString(),
                                 std::move(arguments));
    if (!app.start())
        return 0;
    QApplication::exec();
    app.finish();
    return 0;
}
