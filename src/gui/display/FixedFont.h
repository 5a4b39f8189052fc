#pragma once
// The fixed-pitch font of the log pane. Columns of NC blocks only line up when every character
// has the same advance, so the desktop's own monospace face is preferred and a generic
// monospace family is the fallback.

#include <QFont>

namespace corvane {

QFont fixedPitchFont();

} // namespace corvane
