#pragma once
// The tool-bar pictures, drawn in code so they scale and need no image files. Indexes follow
// the tool-bar image strip: 0 send, 1 send list, 2 receive, 3 machine, 4 property, 5 help,
// 6 cancel.

#include <QIcon>

namespace corvane::gui {

enum class ToolImage { Send = 0, SendList, Receive, Machine, Property, Help, Cancel };

// A 16 x 16 picture (with a 32 x 32 one for high-density screens).
QIcon toolIcon(ToolImage image);

} // namespace corvane::gui
