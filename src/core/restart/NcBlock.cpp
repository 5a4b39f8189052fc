#include "restart/NcBlock.h"

#include <cctype>
#include <cstdlib>

namespace corvane {

const NcWord* NcBlock::find(char letter) const {
    for (const NcWord& word : words)
        if (word.letter == letter)
            return &word;
    return nullptr;
}

std::string NormalCode(const std::string& text) {
    size_t start = 0;
    while (start + 1 < text.size() && text[start] == '0' && text[start + 1] != '.')
        ++start;
    return text.substr(start);
}

static bool hasCode(const NcBlock& block, char letter, std::string_view code) {
    for (const NcWord& word : block.words)
        if (word.letter == letter && NormalCode(word.text) == code)
            return true;
    return false;
}

bool NcBlock::hasG(std::string_view code) const {
    return hasCode(*this, 'G', code);
}
bool NcBlock::hasM(std::string_view code) const {
    return hasCode(*this, 'M', code);
}

NcBlock ParseNcBlock(std::string_view line) {
    NcBlock block;
    size_t i = 0;
    const size_t n = line.size();
    auto skipBlanks = [&] {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
    };
    skipBlanks();
    if (i < n && line[i] == '%') {
        block.percent = true;
        return block;
    }
    if (i < n && line[i] == '/') {
        block.blockDelete = true;
        ++i;
    }
    while (i < n) {
        const char c = line[i];
        if (c == '(') {
            const size_t close = line.find(')', i);
            if (close == std::string_view::npos)
                break;
            i = close + 1;
            continue;
        }
        if (c == ';')
            break;
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#' || c == '[' || c == '=') {
            if (block.macro.empty())
                block.macro = std::string(1, c);
            ++i;
            continue;
        }
        if (std::isalpha(static_cast<unsigned char>(c))) {
            // Two letters in a row are a word of the macro language (GOTO, WHILE, IF, END).
            size_t run = i;
            while (run < n && std::isalpha(static_cast<unsigned char>(line[run])))
                ++run;
            if (run - i > 1) {
                if (block.macro.empty()) {
                    block.macro = std::string(line.substr(i, run - i));
                    for (char& ch : block.macro)
                        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                }
                i = run;
                continue;
            }
            NcWord word;
            word.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            ++i;
            skipBlanks();
            if (i < n && (line[i] == '#' || line[i] == '[')) {
                if (block.macro.empty())
                    block.macro = std::string(1, line[i]);
                continue;
            }
            const size_t start = i;
            if (i < n && (line[i] == '+' || line[i] == '-'))
                ++i;
            while (i < n && (std::isdigit(static_cast<unsigned char>(line[i])) || line[i] == '.'))
                ++i;
            word.text = std::string(line.substr(start, i - start));
            if (word.text.empty() || word.text == "+" || word.text == "-") {
                // A letter with no number: nothing a control would run; keep it out of the
                // words but do not pretend it is understood.
                if (block.macro.empty())
                    block.macro = std::string(1, word.letter);
                continue;
            }
            word.value = std::strtod(word.text.c_str(), nullptr);
            block.words.push_back(std::move(word));
            continue;
        }
        // Anything else (a stray character, an EOB mark) carries no word.
        ++i;
    }
    return block;
}

} // namespace corvane
