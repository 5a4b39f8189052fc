#include "transfer/SendFileCheck.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "support/StringIds.h"
#include "transfer/SendBlock.h"
#include "transfer/TapeCode.h"

namespace corvane {

namespace {

constexpr int CodeIso = 0;
constexpr int CodeEia = 1;
constexpr int CodeAscii = 2;

// Whether any byte of the built block would reach the control as another character.
bool blockCarried(const MachineLine& line, const SendBlock& block) {
    for (int i = 0; i < block.length; ++i) {
        const auto c = static_cast<unsigned char>(block.text[i]);
        if (c != '\n' && !CodeCarries(line, c))
            return false;
    }
    return true;
}

int firstNotCarried(const MachineLine& line, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\0' && !CodeCarries(line, static_cast<unsigned char>(text[i])))
            return static_cast<int>(i) + 1;
    return 1;
}

} // namespace

bool CodeCarries(const MachineLine& line, unsigned char c) {
    switch (line.OutCode) {
    case CodeEia:
        // A character without a hole pattern would go out as blank tape: lost, not sent.
        return c < 0x80 && EiaSendTable[c] != 0;
    case CodeAscii:
        return line.DataLen == 1 || c < 0x80;
    case CodeIso:
    default:
        // Seven bits and a parity bit: the eighth bit of a byte is lost, so 0x8A would reach
        // the control as an end of block and 0xA5 as a %.
        return c < 0x80;
    }
}

const char* CodeName(const MachineLine& line) {
    switch (line.OutCode) {
    case CodeEia:
        return "EIA";
    case CodeAscii:
        return "ASCII";
    default:
        return "ISO";
    }
}

SendFileCheck CheckSendFile(const char* path, const MachineDef& machine, bool binaryAccepted) {
    SendFileCheck check;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        check.fault = SendFileFault::NotRead;
        return check;
    }
    const std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        check.fault = SendFileFault::NotRead;
        return check;
    }

    // The block numbers only decide the prefix, which is digits; a copy keeps them apart from
    // the send's own count.
    int blockNumber = FirstBlockNumber(machine.config);
    SendBlock block;
    size_t start = 0;
    int lineNumber = 0;
    while (start < data.size()) {
        ++lineNumber;
        size_t end = data.find('\n', start);
        const size_t next = end == std::string::npos ? data.size() : end + 1;
        if (end == std::string::npos)
            end = data.size();
        // CR LF reads as one line end, as the send reads it.
        if (end > start && end < data.size() && data[end - 1] == '\r')
            --end;
        const std::string text = data.substr(start, end - start);
        start = next;

        if (!binaryAccepted && text.find('\0') != std::string::npos) {
            check.fault = SendFileFault::Binary;
            check.line = lineNumber;
            return check;
        }
        if (text.size() > static_cast<size_t>(SendLineLimit)) {
            check.fault = SendFileFault::LineTooLong;
            check.line = lineNumber;
            check.length = static_cast<int>(text.size());
            return check;
        }
        // Only what goes out counts: a Japanese comment the machine strips is no harm.
        if (BuildBlock(text.data(), text.size(), machine.config, blockNumber, block) &&
            !blockCarried(machine.line, block)) {
            check.fault = SendFileFault::NotCarried;
            check.line = lineNumber;
            check.column = firstNotCarried(machine.line, text);
            return check;
        }
    }
    return check;
}

std::string DescribeSendFileCheck(const SendFileCheck& check, const std::string& path,
                                  const MachineLine& line, Language language) {
    int id = 0;
    switch (check.fault) {
    case SendFileFault::LineTooLong:
        id = IDS_FMT_SEND_LINE_TOO_LONG;
        break;
    case SendFileFault::Binary:
        id = IDS_FMT_SEND_BINARY;
        break;
    case SendFileFault::NotCarried:
        id = IDS_FMT_SEND_NOT_CARRIED;
        break;
    default:
        return {};
    }
    const char* format = WexLoadString(language, id);
    char text[2048];
    if (check.fault == SendFileFault::LineTooLong)
        std::snprintf(text, sizeof text, format, path.c_str(), check.line, check.length);
    else if (check.fault == SendFileFault::Binary)
        std::snprintf(text, sizeof text, format, path.c_str(), check.line);
    else
        std::snprintf(text, sizeof text, format, path.c_str(), check.line, check.column,
                      CodeName(line));
    return text;
}

} // namespace corvane
