#pragma once
// "--help" and "--version", answered on the terminal before any window or display is touched,
// as every desktop program does. Everything else on the command line is the window's own.

#include <optional>
#include <string>
#include <vector>

namespace corvane::gui {

// The text to print and exit with status 0 for, or nothing when the window is to start.
std::optional<std::string> CommandLineAnswer(const std::vector<std::string>& arguments);

} // namespace corvane::gui
