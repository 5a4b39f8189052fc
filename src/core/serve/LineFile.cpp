#include "serve/LineFile.h"

#include "support/IniFile.h"

namespace corvane::serve {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::string withoutComment(std::string_view value) {
    size_t end = value.size();
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == ';' && (i == 0 || isBlank(value[i - 1]))) {
            end = i;
            break;
        }
    }
    while (end > 0 && isBlank(value[end - 1]))
        --end;
    size_t start = 0;
    while (start < end && isBlank(value[start]))
        ++start;
    return std::string(value.substr(start, end - start));
}

LineFileRead readLineFile(const IniFile& ini) {
    LineFileRead read;
    if (!ini.hasSection("Line")) {
        read.error = "no [Line] section";
        return read;
    }
    LineFile& f = read.values;
    const std::pair<const char*, std::string*> keys[] = {
        {"Name", &f.name},
        {"Machine", &f.machine},
        {"Port", &f.port},
        {"Inbox", &f.inbox},
        {"Library", &f.library},
        {"Journal", &f.journal},
        {"RequestDelay", &f.requestDelay},
        {"ScanLines", &f.scanLines},
        {"Verbose", &f.verbose},
        {"CompareIgnore", &f.compareIgnore},
        {"Broker", &f.broker},
        {"BrokerCa", &f.brokerCa},
        {"BrokerUser", &f.brokerUser},
        {"BrokerPasswordFile", &f.brokerPasswordFile},
        {"TopicPrefix", &f.topicPrefix},
    };
    for (const auto& [key, value] : keys) {
        if (const auto text = ini.get("Line", key))
            *value = withoutComment(*text);
    }
    return read;
}

} // namespace corvane::serve
