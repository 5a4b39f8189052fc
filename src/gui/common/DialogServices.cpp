#include "common/DialogServices.h"

#include <algorithm>

#include <QColorDialog>
#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

#include "common/HelpViewer.h"
#include "display/ColourRef.h"

namespace corvane::gui {

std::optional<Colour> chooseColour(const DialogServices& services, QWidget* parent, Colour initial,
                                   Colour (&custom)[CustomColourCount]) {
    if (services.chooseColour)
        return services.chooseColour(parent, initial, custom);

    // Qt keeps the custom colours for the whole process; ours live in the configuration, so
    // they are put in before every opening and taken back after it, chosen or not.
    const int count = std::min(QColorDialog::customCount(), CustomColourCount);
    for (int i = 0; i < count; ++i)
        QColorDialog::setCustomColor(i, qColorFromRef(custom[i]));
    QColorDialog dialog(qColorFromRef(initial), parent);
    // Native choosers of some desktops have no custom colours at all.
    dialog.setOption(QColorDialog::DontUseNativeDialog, true);
    const bool chosen = dialog.exec() == QDialog::Accepted;
    for (int i = 0; i < count; ++i)
        custom[i] = refFromQColor(QColorDialog::customColor(i));
    if (!chosen)
        return std::nullopt;
    return refFromQColor(dialog.selectedColor());
}

void openUrl(const DialogServices& services, const QString& url) {
    if (services.openUrl) {
        services.openUrl(url);
        return;
    }
    QDesktopServices::openUrl(QUrl(url)); // a failure shows nothing
}

void launchProgram(const DialogServices& services, const QString& program) {
    if (services.launchProgram) {
        services.launchProgram(program);
        return;
    }
    QProcess::startDetached(program, {});
}

int showHelp(const DialogServices& services, const std::string& helpFilePath, int topic) {
    if (services.showHelp) {
        services.showHelp(topic);
        return 1;
    }
    return WexShowHelp(helpFilePath, HelpTopic, topic, services.openManual);
}

QString programSearchPath(const DialogServices& services) {
    if (services.programSearchPath)
        return *services.programSearchPath;
    return qEnvironmentVariable("PATH");
}

} // namespace corvane::gui
