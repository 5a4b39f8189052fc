#include "app/HelpLocation.h"

namespace corvane {

namespace {

constexpr const char* FirstPage = "index.html";
constexpr const char* JapaneseFirstPage = "ja/index.html";

struct TopicPage {
    int topic;
    const char* page;
};

// One page per dialog page: a desktop that opens a local file without its anchor still lands
// on the right subject.
constexpr TopicPage TopicPages[] = {
    {1000, "machine-device.html"},  {1001, "machine-send.html"}, {1002, "machine-receive.html"},
    {1003, "machine-options.html"}, {1010, "property.html"},
};

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// The folder of a path, with its separator; empty for a bare name.
std::string folderOf(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (isSeparator(path[i - 1]))
            return path.substr(0, i);
    return {};
}

std::string anchorOf(int topic) {
    return "#topic-" + std::to_string(topic);
}

} // namespace

std::string LocateHelpFile(const std::string& executablePath, Language language,
                           const FileExistsCheck& fileExists) {
    const std::string programFolder = folderOf(executablePath);
    if (fileExists) {
        for (const char* folder : HelpFolders) {
            const std::string base = programFolder + folder;
            if (language == Language::Japanese && fileExists(base + JapaneseFirstPage))
                return base + JapaneseFirstPage;
            if (fileExists(base + FirstPage))
                return base + FirstPage;
        }
    }
    return programFolder + HelpFolders[0] + FirstPage;
}

std::string HelpTopicPage(int topic) {
    for (const TopicPage& row : TopicPages)
        if (row.topic == topic)
            return row.page + anchorOf(topic);
    return FirstPage + anchorOf(topic);
}

std::string HelpTopicTarget(const std::string& helpFilePath, int topic,
                            const FileExistsCheck& fileExists) {
    const std::string page = HelpTopicPage(topic);
    const std::string file = folderOf(helpFilePath) + page.substr(0, page.find('#'));
    if (fileExists && fileExists(file))
        return folderOf(helpFilePath) + page;
    return helpFilePath + anchorOf(topic);
}

} // namespace corvane
