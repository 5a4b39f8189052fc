#pragma once
// Where the HTML manual is and which page answers a help topic. Pure: the file system is
// reached only through the existence check the caller passes.

#include <string>

#include "app/StartupOptions.h"
#include "support/StringTable.h"

namespace corvane {

// Folders that may hold the manual, relative to the executable's folder, in the order they are
// tried: beside the program (the build tree and a portable install), then the data folder of
// an install under a prefix (<prefix>/bin/corvane finds <prefix>/share/corvane/help).
constexpr const char* HelpFolders[] = {"help/", "../share/corvane/help/"};

// The manual's first page for `language`: in the first folder of HelpFolders that holds one,
// the Japanese page (ja/index.html) when the language is Japanese and that page exists, else
// the English one (index.html). When no folder holds a manual the answer is the English page
// beside the executable, so callers that test existence find none and offer no help.
std::string LocateHelpFile(const std::string& executablePath, Language language,
                           const FileExistsCheck& fileExists);

// The page of `topic` relative to the manual's folder, with its anchor, e.g.
// "machine-device.html#topic-1000"; the first page for a topic that has no page of its own.
std::string HelpTopicPage(int topic);

// The page of `topic` beside the first page `helpFilePath` ("/x/help/index.html" and topic
// 1001 give "/x/help/machine-send.html#topic-1001"). When that page does not exist the first
// page itself, with the anchor, which points on to the topic's page.
std::string HelpTopicTarget(const std::string& helpFilePath, int topic,
                            const FileExistsCheck& fileExists);

} // namespace corvane
