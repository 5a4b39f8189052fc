#pragma once
// The line file: one section [Line] naming what one served line needs. Values are taken as
// written, except that a ';' after a blank starts a comment, so a line copied from an annotated
// example ("TopicPrefix=corvane/   ; the default") means what it shows. Paths are returned as
// written; the caller takes relative ones from the file's folder.

#include <string>
#include <string_view>

namespace corvane {
class IniFile;
}

namespace corvane::serve {

struct LineFile {
    std::string name;
    std::string machine;
    std::string port;
    std::string inbox;
    std::string library;
    std::string journal;
    std::string requestDelay;
    std::string scanLines;
    std::string verbose;
    std::string compareIgnore;
    std::string broker;
    std::string brokerCa;
    std::string brokerUser;
    std::string brokerPasswordFile;
    std::string topicPrefix;
};

struct LineFileRead {
    LineFile values;   // empty texts for keys the file does not set
    std::string error; // empty when the file is a line file
};

LineFileRead readLineFile(const IniFile& ini);

// A value with its end-of-line comment (a ';' after a blank, to the end) and the blanks before
// it removed. A ';' inside a word ("a;b") is kept: only a blank makes it a comment.
std::string withoutComment(std::string_view value);

} // namespace corvane::serve
