#pragma once
// What one transfer works on: the program-wide state, the host and the way to open a line.

#include <memory>

#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "transfer/Line.h"
#include "transfer/TransferHost.h"
#include "transfer/TransferState.h"

namespace corvane {

struct TransferContext {
    MachineDef& machine;
    const AppConfig& config;
    SendQueue& queue;
    TransferState& state;
    TransferHost& host;
    LineOpener openLine;
    uint32_t notifyWindow = 0;

    std::unique_ptr<Line> port; // the one open line, owned between ComOpen and ComClose
};

} // namespace corvane
