// The HTML manual as files: every page well formed, every link inside the manual leads to a
// page and an anchor that exist, the Japanese pages mirror the English ones, and every help
// topic that a dialog asks for lands on an anchor in both languages.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/HelpLocation.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

const fs::path ManualDir = CORVANE_MANUAL_DIR;

struct Tag {
    std::string name; // lower case; "/p" for a closing tag
    std::map<std::string, std::string> attributes;
    bool selfClosed = false;
    int line = 0;
};

struct Page {
    fs::path path;
    std::vector<Tag> tags;
    std::set<std::string> ids;
    std::vector<std::string> problems;
};

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool isSpace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == ':';
}

// A small reader for the HTML this manual is written in: quoted attributes, comments, a
// doctype. Anything it cannot read is a problem of the page.
Page parse(const fs::path& path) {
    Page page;
    page.path = path;
    const std::string text = readAll(path);
    int line = 1;
    size_t i = 0;
    auto problem = [&](const std::string& what) {
        page.problems.push_back(path.string() + ":" + std::to_string(line) + ": " + what);
    };
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n')
            ++line;
        if (c == '&') {
            const size_t semi = text.find(';', i);
            if (semi == std::string::npos || semi - i > 10)
                problem("bare '&' (write &amp;)");
        }
        if (c == '>')
            problem("bare '>' in text (write &gt;)");
        if (c != '<') {
            ++i;
            continue;
        }
        if (text.compare(i, 4, "<!--") == 0) {
            const size_t end = text.find("-->", i);
            if (end == std::string::npos) {
                problem("comment not closed");
                break;
            }
            for (size_t k = i; k < end; ++k)
                line += text[k] == '\n';
            i = end + 3;
            continue;
        }
        if (text.compare(i, 2, "<!") == 0) {
            i = text.find('>', i) + 1;
            continue;
        }
        Tag tag;
        tag.line = line;
        size_t k = i + 1;
        if (k < text.size() && text[k] == '/') {
            tag.name = "/";
            ++k;
        }
        const size_t nameStart = k;
        while (k < text.size() && isNameChar(text[k]))
            ++k;
        if (k == nameStart) {
            problem("bare '<' in text (write &lt;)");
            ++i;
            continue;
        }
        tag.name += lower(text.substr(nameStart, k - nameStart));
        for (;;) {
            while (k < text.size() && isSpace(text[k]))
                line += text[k++] == '\n';
            if (k >= text.size()) {
                problem("tag not closed");
                break;
            }
            if (text[k] == '>') {
                ++k;
                break;
            }
            if (text.compare(k, 2, "/>") == 0) {
                tag.selfClosed = true;
                k += 2;
                break;
            }
            const size_t attrStart = k;
            while (k < text.size() && isNameChar(text[k]))
                ++k;
            if (k == attrStart) {
                problem("cannot read the attributes of <" + tag.name + ">");
                k = text.find('>', k);
                break;
            }
            const std::string name = lower(text.substr(attrStart, k - attrStart));
            std::string value;
            if (k < text.size() && text[k] == '=') {
                ++k;
                if (k >= text.size() || text[k] != '"') {
                    problem("unquoted value of " + name);
                    continue;
                }
                const size_t end = text.find('"', k + 1);
                value = text.substr(k + 1, end - k - 1);
                k = end + 1;
            }
            if (tag.attributes.count(name))
                problem("attribute " + name + " twice");
            tag.attributes[name] = value;
        }
        if (const auto id = tag.attributes.find("id"); id != tag.attributes.end())
            if (!page.ids.insert(id->second).second)
                problem("id " + id->second + " twice");
        page.tags.push_back(tag);
        i = k;
    }
    return page;
}

bool isVoid(const std::string& name) {
    static const std::set<std::string> voids = {"area",   "base",  "br",    "col",  "embed",
                                                "hr",     "img",   "input", "link", "meta",
                                                "source", "track", "wbr"};
    return voids.count(name) > 0;
}

// Every element but the void ones is closed, in order.
void checkNesting(Page& page) {
    std::vector<const Tag*> open;
    for (const Tag& tag : page.tags) {
        if (tag.name[0] == '/') {
            const std::string name = tag.name.substr(1);
            if (open.empty() || open.back()->name != name) {
                page.problems.push_back(page.path.string() + ":" + std::to_string(tag.line) +
                                        ": </" + name + "> closes " +
                                        (open.empty() ? std::string("nothing")
                                                      : "<" + open.back()->name + "> of line " +
                                                            std::to_string(open.back()->line)));
                continue;
            }
            open.pop_back();
        } else if (!isVoid(tag.name) && !tag.selfClosed) {
            open.push_back(&tag);
        }
    }
    for (const Tag* tag : open)
        page.problems.push_back(page.path.string() + ":" + std::to_string(tag->line) + ": <" +
                                tag->name + "> not closed");
}

std::vector<fs::path> pagesUnder(const fs::path& folder) {
    std::vector<fs::path> pages;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".html")
            pages.push_back(entry.path());
    std::sort(pages.begin(), pages.end());
    return pages;
}

std::map<fs::path, Page> allPages() {
    std::map<fs::path, Page> pages;
    for (const fs::path& path : pagesUnder(ManualDir)) {
        Page page = parse(path);
        checkNesting(page);
        pages.emplace(fs::weakly_canonical(path), std::move(page));
    }
    return pages;
}

std::string manualName(const fs::path& path) {
    return fs::relative(path, ManualDir).generic_string();
}

} // namespace

TEST(Manual, thereIsAnEnglishAndAJapaneseFirstPage) {
    EXPECT_TRUE(fs::is_regular_file(ManualDir / "index.html"));
    EXPECT_TRUE(fs::is_regular_file(ManualDir / "ja" / "index.html"));
    EXPECT_TRUE(fs::is_regular_file(ManualDir / "style.css"));
}

TEST(Manual, pagesAreWellFormedAndSelfContained) {
    for (auto& [path, page] : allPages()) {
        for (const std::string& problem : page.problems)
            ADD_FAILURE() << problem;
        const std::string text = readAll(path);
        const std::string name = manualName(path);
        EXPECT_EQ(text.rfind("<!DOCTYPE html>", 0), 0u) << name;
        const bool japanese = name.rfind("ja/", 0) == 0;
        bool lang = false, charset = false, style = false, title = false;
        for (const Tag& tag : page.tags) {
            EXPECT_NE(tag.name, "script") << name << ": the manual needs no JavaScript";
            const auto attr = [&](const char* key) {
                const auto it = tag.attributes.find(key);
                return it == tag.attributes.end() ? std::string() : it->second;
            };
            if (tag.name == "html")
                lang = attr("lang") == (japanese ? "ja" : "en");
            if (tag.name == "meta" && lower(attr("charset")) == "utf-8")
                charset = true;
            if (tag.name == "link" && attr("rel") == "stylesheet")
                style = attr("href") == (japanese ? "../style.css" : "style.css");
            if (tag.name == "title")
                title = true;
            // Readable offline, and only this program's own pages.
            for (const char* key : {"href", "src"})
                EXPECT_EQ(attr(key).find("://"), std::string::npos) << name << ": " << attr(key);
        }
        EXPECT_TRUE(lang) << name << ": <html lang> must name the page's language";
        EXPECT_TRUE(charset) << name;
        EXPECT_TRUE(style) << name;
        EXPECT_TRUE(title) << name;
    }
}

TEST(Manual, everyLinkLeadsToAPageAndAnchorThatExist) {
    const std::map<fs::path, Page> pages = allPages();
    int links = 0;
    for (const auto& [path, page] : pages) {
        for (const Tag& tag : page.tags) {
            for (const char* key : {"href", "src"}) {
                const auto it = tag.attributes.find(key);
                if (it == tag.attributes.end() || it->second.rfind("mailto:", 0) == 0)
                    continue;
                ++links;
                const std::string& link = it->second;
                const size_t hash = link.find('#');
                const std::string file = link.substr(0, hash);
                const fs::path target =
                    file.empty() ? path : fs::weakly_canonical(path.parent_path() / file);
                const std::string where = manualName(path) + ":" + std::to_string(tag.line) + ": ";
                if (!fs::is_regular_file(target)) {
                    ADD_FAILURE() << where << link << ": no such file";
                    continue;
                }
                if (hash == std::string::npos)
                    continue;
                const auto linked = pages.find(target);
                if (linked == pages.end()) {
                    ADD_FAILURE() << where << link << ": an anchor in a file that is no page";
                    continue;
                }
                EXPECT_TRUE(linked->second.ids.count(link.substr(hash + 1)))
                    << where << link << ": no such anchor";
            }
        }
    }
    EXPECT_GT(links, 100); // the reader really saw the pages' links
}

TEST(Manual, japanesePagesMirrorTheEnglishOnes) {
    std::set<std::string> english, japanese;
    for (const fs::path& path : pagesUnder(ManualDir)) {
        const std::string name = manualName(path);
        if (name.rfind("ja/", 0) == 0)
            japanese.insert(name.substr(3));
        else
            english.insert(name);
    }
    EXPECT_EQ(english, japanese);
    // The same anchors on both sides, so a topic or a cross-reference works in both.
    const std::map<fs::path, Page> pages = allPages();
    for (const std::string& name : english) {
        const auto en = pages.find(fs::weakly_canonical(ManualDir / name));
        const auto ja = pages.find(fs::weakly_canonical(ManualDir / "ja" / name));
        if (en != pages.end() && ja != pages.end()) {
            EXPECT_EQ(en->second.ids, ja->second.ids) << name;
        }
    }
}

TEST(Manual, everyDialogTopicLandsOnAnAnchorInBothLanguages) {
    const std::map<fs::path, Page> pages = allPages();
    for (const int topic : {1000, 1001, 1002, 1003, 1010}) {
        const std::string anchor = "topic-" + std::to_string(topic);
        for (const fs::path& folder : {ManualDir, ManualDir / "ja"}) {
            // Where the help viewer goes: the topic's own page.
            const std::string page = HelpTopicPage(topic);
            const fs::path file = fs::weakly_canonical(folder / page.substr(0, page.find('#')));
            const auto own = pages.find(file);
            ASSERT_NE(own, pages.end()) << page;
            EXPECT_EQ(page.substr(page.find('#') + 1), anchor);
            EXPECT_TRUE(own->second.ids.count(anchor)) << file << " lacks " << anchor;
            // Where a viewer that knows only the first page goes: an anchor there that points
            // on to the topic's page.
            const auto first = pages.find(fs::weakly_canonical(folder / "index.html"));
            ASSERT_NE(first, pages.end());
            EXPECT_TRUE(first->second.ids.count(anchor))
                << folder << "/index.html lacks " << anchor;
        }
    }
}
