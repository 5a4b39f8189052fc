#pragma once
// What the frame's dialogs ask of the desktop: the colour chooser, opening a link, starting a
// program, showing the manual. Each is a plain function value; an empty one means the
// desktop's own, so the program leaves them empty and a test answers them in advance instead
// of driving another modal window.

#include <functional>
#include <optional>
#include <string>

#include <QString>

#include "settings/AppConfig.h"

class QUrl;
class QWidget;

namespace corvane::gui {

constexpr int CustomColourCount = 16;

// Opens the colour chooser on `initial`. Returns the chosen colour, nothing when the user
// closed it without a choice. `custom` holds the chooser's custom colours: read when it
// opens, and left as the user defined them either way.
using ColourChooser = std::function<std::optional<Colour>(QWidget* parent, Colour initial,
                                                          Colour (&custom)[CustomColourCount])>;
// Opens a link ("mailto:..." or a web address) in the desktop's program for it.
using UrlOpener = std::function<void(const QString& url)>;
// Starts a program without arguments and without waiting for it.
using ProgramLauncher = std::function<void(const QString& program)>;
// Opens the manual at a topic.
using HelpOpener = std::function<void(int topic)>;

struct DialogServices {
    ColourChooser chooseColour;
    UrlOpener openUrl;
    ProgramLauncher launchProgram;
    HelpOpener showHelp;
    // Hands a page of the manual to the desktop; false when nothing could show it. Empty: the
    // desktop's own.
    std::function<bool(const QUrl& page)> openManual;
    // The folders searched for a system information program, separated as in PATH; nothing:
    // the PATH of the environment.
    std::optional<QString> programSearchPath;
};

// The services with the desktop's own put in for the empty ones. `helpFilePath` is the
// manual's first page.
std::optional<Colour> chooseColour(const DialogServices& services, QWidget* parent, Colour initial,
                                   Colour (&custom)[CustomColourCount]);
void openUrl(const DialogServices& services, const QString& url);
void launchProgram(const DialogServices& services, const QString& program);
// Returns as WexShowHelp does (1 when a test's own opener took it).
int showHelp(const DialogServices& services, const std::string& helpFilePath, int topic);
QString programSearchPath(const DialogServices& services);

} // namespace corvane::gui
