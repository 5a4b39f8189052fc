#pragma once
// The "serve" verb. A front end that reports to a broker calls runServe with its own sink and
// command source; the plain verb runs with neither.

#include "CliCommon.h"
#include "serve/EventSink.h"

namespace corvane::cli {

int runServeCommand(CliContext& context, CliArguments arguments);
int runServe(CliContext& context, CliArguments arguments, serve::EventSink* sink,
             serve::CommandSource* commands);

} // namespace corvane::cli
