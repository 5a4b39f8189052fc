#pragma once
// The frame's command ids. Menu items, tool buttons, keys, history items and requests from
// other programs all end up as one of these numbers in FrameWindow::dispatchCommand, so a
// command behaves the same whichever way it arrives.

namespace corvane::gui {

enum CommandId : int {
    CmdSend = 3000,
    CmdSendList = 3001,
    CmdReceive = 3002,
    CmdExit = 3003,
    CmdToolBar = 3004,
    CmdStatusBar = 3005,
    CmdProperty = 3009,
    CmdContents = 3010,
    CmdInterrupt = 3013,
    CmdOpenMachine = 3014,
    CmdMachineProperty = 3015,
    CmdRestart = 3016, // Restart from...: a program sent again from a tool change, block or line
    CmdMenuBar = 40033,
    CmdVersionInfo = 40040,
    CmdQueueSend = 5000,
    CmdClose = 5001,
    CmdNcHistoryFirst = 2101,
    CmdNcHistoryLast = 2116,
    CmdMachineHistoryFirst = 2201,
    CmdMachineHistoryLast = 2216,
};

} // namespace corvane::gui
