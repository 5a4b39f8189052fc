#pragma once
// How one program reaches the shop's broker: the address, TLS trust, the account, and the
// topic prefix every line's topics stand under. The password lives only in its own file, so
// it is never in a line file, on a command line or in a process list.

#include <string>
#include <vector>

#include "shop/BrokerAddress.h"

namespace corvane::shop {

struct ShopSettings {
    BrokerAddress broker;
    std::string caFile;       // mqtts: the CA to trust; empty = the system's trusted CAs
    std::string user;         // empty: no account
    std::string passwordFile; // read at start; its first line is the password
    std::string topicPrefix = "corvane/";
};

// The texts as a user gives them, checked and read into settings (the password file is read
// here). Empty error on success.
struct ShopSettingsText {
    std::string broker;
    std::string caFile;
    std::string user;
    std::string passwordFile;
    std::string topicPrefix; // empty: "corvane/"
};

struct ShopSettingsRead {
    ShopSettings settings;
    std::string password;
    std::string error;
    bool fileError = false; // the error is about a named file (missing, unreadable, empty)
    std::vector<std::string> warnings; // usable, but worth a line in the log
};

ShopSettingsRead readShopSettings(const ShopSettingsText& text);

// A line name that can stand in a topic: not empty, no '/', '+', '#' or control characters.
bool isTopicName(const std::string& name);

std::string stateTopic(const ShopSettings& settings, const std::string& line);
std::string eventTopic(const ShopSettings& settings, const std::string& line);
std::string commandTopic(const ShopSettings& settings, const std::string& line);

// The line name from "PREFIXLINE/KIND" when the topic has that shape; empty otherwise.
std::string lineOfTopic(const ShopSettings& settings, const std::string& topic, const char* kind);

} // namespace corvane::shop
