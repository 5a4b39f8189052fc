#pragma once
// Files dropped on the frame window: links are followed to what they point at, machine files
// become the current machine, and everything else is queued for an immediate send.
//
// A file manager hands over the names the user dragged, which are often links: a symbolic
// link, or a ".desktop" link file of the kind desktops put on the desktop. Each is replaced by
// its target before anything else looks at the name, so a link to a machine file loads the
// machine, and the history lists the real file rather than the link.

#include <optional>
#include <string>
#include <vector>

#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "transfer/TransferState.h"

namespace corvane {

// The target of a dropped name: a symbolic link becomes the file it finally points at, a
// ".desktop" file of type Link with a local URL becomes the file named there. Any other name
// comes back unchanged. Nothing when a link cannot be followed: a broken symbolic link, a
// ".desktop" file that is not a link to a local file, or a Windows ".lnk" shortcut, which
// cannot be read here.
std::optional<std::string> ResolveDroppedName(const std::string& name);

struct DropResult {
    int queued = 0;         // NC files now in the queue (its Count)
    int machinesLoaded = 0; // machine files read into `machine`
};

// Takes dropped `names` in the order the desktop reported them. The queue is emptied first.
// A machine file (".mdf" in any case) that reads is loaded over `machine`, becomes McnFile
// and goes to the top of the machine history; one that does not read changes nothing. Every
// other name that is an existing regular file is queued with its size, until the queue holds
// 32 files; later names are ignored. Names too long for a queue entry are refused rather than
// cut into another name.
DropResult TakeDroppedFiles(const std::vector<std::string>& names, AppConfig& config,
                            MachineDef& machine, SendQueue& queue);

} // namespace corvane
