#pragma once
// SHA-256, through OpenSSL, for the journal: it proves which bytes were stored or sent, so a
// shop can match a file on disk against the record years later, and it chains the records so
// an edited journal shows. Digests are 64 lower-case hexadecimal digits.

#include <string>
#include <string_view>

namespace corvane {

// The digest of a whole file, read in pieces so a large program is never held in memory whole;
// empty when the file cannot be read.
std::string sha256OfFile(const std::string& path);

// The digest of a text.
std::string sha256Of(std::string_view bytes);

} // namespace corvane
