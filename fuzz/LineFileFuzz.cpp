// The line file on any text: the INI reader under it and the [Line] keys read from it. A file
// without the section is refused with a reason. Every value read has its end-of-line comment
// and the blanks around it taken off: no value starts or ends with a blank, and none holds a
// ';' after a blank. A value already without comment reads the same when cleaned again, and a
// value written back with its own comment after it reads back as itself.

#include "FuzzSupport.h"
#include "serve/LineFile.h"
#include "support/IniFile.h"

using namespace corvane;
using namespace corvane::fuzz;
using namespace corvane::serve;

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

void checkValue(const std::string& value) {
    FUZZ_CHECK(value.empty() || (!isBlank(value.front()) && !isBlank(value.back())));
    FUZZ_CHECK(value.empty() || value.front() != ';');
    for (size_t i = 1; i < value.size(); ++i)
        FUZZ_CHECK(!(value[i] == ';' && isBlank(value[i - 1])));
    FUZZ_CHECK(withoutComment(value) == value);
    FUZZ_CHECK(withoutComment(value + "   ; a comment ; more") == value);
    FUZZ_CHECK(withoutComment("\t" + value + "\t;") == value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const IniFile ini = IniFile::parse(text);
    const LineFileRead read = readLineFile(ini);
    if (!read.error.empty()) {
        FUZZ_CHECK(!ini.hasSection("Line"));
        return 0;
    }
    const LineFile& f = read.values;
    for (const std::string* value : {&f.name, &f.machine, &f.port, &f.inbox, &f.library, &f.journal,
                                     &f.requestDelay, &f.scanLines, &f.broker, &f.brokerCa,
                                     &f.brokerUser, &f.brokerPasswordFile, &f.topicPrefix})
        checkValue(*value);
    if (const auto name = ini.get("Line", "Name"))
        FUZZ_CHECK(name->find(f.name) != std::string::npos);
    return 0;
}
