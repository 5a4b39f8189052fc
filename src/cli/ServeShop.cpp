#include "ServeShop.h"

#include <cstdio>

namespace corvane::cli {

int openShopSink(const CliContext& context, const shop::ShopSettingsText& broker,
                 const std::string& lineName, std::unique_ptr<shop::MqttSink>& sink) {
    if (broker.broker.empty())
        return ExitSuccess;
    if (!shop::isTopicName(lineName))
        return fail(context, ExitUsage,
                    "line name '" + lineName +
                        "' cannot stand in a broker topic (no '/', '+' or '#')");
    const shop::ShopSettingsRead read = shop::readShopSettings(broker);
    if (!read.error.empty())
        return fail(context, read.fileError ? ExitFile : ExitUsage, read.error);
    for (const std::string& warning : read.warnings)
        std::fprintf(context.err, "corvane-cli: warning: %s\n", warning.c_str());
    std::FILE* out = context.out;
    const std::string prefix = "[" + lineName + "] ";
    sink = std::make_unique<shop::MqttSink>(
        read.settings, read.password, lineName, shop::systemSinkClock(),
        [out, prefix](const std::string& line) {
            std::fprintf(out, "%s%s\n", prefix.c_str(), line.c_str());
            std::fflush(out);
        });
    // What the connection cannot even be set up with (a CA file that holds no certificate)
    // is the line file's to fix: a restart would only fail again.
    if (!sink->setupError().empty())
        return fail(context, ExitFile, sink->setupError());
    std::fprintf(out, "%sreporting to %s under %s%s/\n", prefix.c_str(),
                 shop::brokerAddressText(read.settings.broker).c_str(),
                 read.settings.topicPrefix.c_str(), lineName.c_str());
    std::fflush(out);
    return ExitSuccess;
}

} // namespace corvane::cli
