#pragma once
// "serve --broker": the served line's connection to the shop's broker, made from the options
// and the line file's Broker keys once the line's name is known.

#include <memory>
#include <string>

#include "CliCommon.h"
#include "shop/MqttSink.h"

namespace corvane::cli {

// The sink for line `lineName`, or none when no broker is named. ExitSuccess, or the status to
// end with after the message was printed (a wrong address or a missing file is refused at
// start, as the other settings are).
int openShopSink(const CliContext& context, const shop::ShopSettingsText& broker,
                 const std::string& lineName, std::unique_ptr<shop::MqttSink>& sink);

} // namespace corvane::cli
