#include "shop/ShopSettings.h"

#include <cstdio>
#include <fstream>
#include <sys/stat.h>

namespace corvane::shop {

namespace {

// A password file is a small text file; anything else is a wrong path, not a password.
constexpr off_t MaxPasswordFileSize = 4096;

std::string readPassword(const std::string& path, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "password file '" + path + "' does not exist or is not a file";
        return {};
    }
    // As ssh does for keys: a password every user of the machine can read is no secret, and
    // starting with it would only hide that.
    if (info.st_mode & (S_IROTH | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        error = "password file '" + path + "' can be read or written by every user (mode " + mode +
                "); let only its owner and group reach it (chmod o-rwx)";
        return {};
    }
    if (info.st_size > MaxPasswordFileSize) {
        error = "password file '" + path + "' is too large to hold a password";
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    std::string password;
    if (!in || !std::getline(in, password)) {
        error = "password file '" + path + "' cannot be read or is empty";
        return {};
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty())
        error = "password file '" + path + "' holds no password on its first line";
    return password;
}

bool isLoopback(const std::string& host) {
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

} // namespace

ShopSettingsRead readShopSettings(const ShopSettingsText& text) {
    ShopSettingsRead result;
    const BrokerAddressParse address = parseBrokerAddress(text.broker);
    if (!address.error.empty()) {
        result.error = address.error;
        return result;
    }
    result.settings.broker = address.address;
    result.settings.caFile = text.caFile;
    if (!text.caFile.empty()) {
        if (!address.address.tls) {
            result.error = "a CA file is given but the broker address is not mqtts://";
            return result;
        }
        struct stat info {};
        if (::stat(text.caFile.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            result.error = "CA file '" + text.caFile + "' does not exist or is not a file";
            result.fileError = true;
            return result;
        }
    }
    result.settings.user = text.user;
    result.settings.passwordFile = text.passwordFile;
    if (!text.passwordFile.empty()) {
        if (text.user.empty()) {
            result.error = "a password file is given without a user";
            return result;
        }
        result.password = readPassword(text.passwordFile, result.error);
        if (!result.error.empty()) {
            result.fileError = true;
            return result;
        }
    }
    if (!result.settings.user.empty() && !address.address.tls && !isLoopback(address.address.host))
        result.warnings.push_back(
            "the account '" + result.settings.user + "' and its password go to " +
            brokerAddressText(address.address) +
            " unencrypted: anyone on the network can read them (use mqtts://)");
    if (!text.topicPrefix.empty()) {
        for (char c : text.topicPrefix) {
            if (c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20) {
                result.error = "topic prefix '" + text.topicPrefix +
                               "' holds a wildcard or a control character";
                return result;
            }
        }
        result.settings.topicPrefix = text.topicPrefix;
        if (result.settings.topicPrefix.back() != '/')
            result.settings.topicPrefix += '/';
    }
    return result;
}

bool isTopicName(const std::string& name) {
    if (name.empty())
        return false;
    for (char c : name)
        if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

std::string stateTopic(const ShopSettings& settings, const std::string& line) {
    return settings.topicPrefix + line + "/state";
}
std::string eventTopic(const ShopSettings& settings, const std::string& line) {
    return settings.topicPrefix + line + "/event";
}
std::string commandTopic(const ShopSettings& settings, const std::string& line) {
    return settings.topicPrefix + line + "/command";
}

std::string lineOfTopic(const ShopSettings& settings, const std::string& topic, const char* kind) {
    const std::string suffix = std::string("/") + kind;
    const std::string& prefix = settings.topicPrefix;
    if (topic.size() <= prefix.size() + suffix.size() ||
        topic.compare(0, prefix.size(), prefix) != 0 ||
        topic.compare(topic.size() - suffix.size(), suffix.size(), suffix) != 0)
        return {};
    std::string line = topic.substr(prefix.size(), topic.size() - prefix.size() - suffix.size());
    return isTopicName(line) ? line : std::string();
}

} // namespace corvane::shop
