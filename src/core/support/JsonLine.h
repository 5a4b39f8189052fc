#pragma once
// JSON for the transfer journal and the shop broker, on nlohmann/json. Everything exchanged
// there is one flat object of strings, numbers, booleans and nulls, each on one line, so that is
// all the reader accepts: a nested value is reported as an error rather than half understood.
// The library does the parsing and the escaping; this file holds what the journal's format
// adds to it, so a record is written with the same bytes it always was (and so hashes the same).

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// An object to write: its keys stay in the order they are set.
using JsonWriteObject = nlohmann::ordered_json;

// The object as one line, without a line end. A string that is not valid UTF-8 has each byte
// that does not start a valid sequence written as U+FFFD, so the line is always valid JSON and
// says where the bad bytes were. Control characters other than tab, CR and LF are written as
// \u00XX, DEL (0x7F) included.
std::string jsonLine(const JsonWriteObject& object);

// An object read: a JSON object whose values are strings, numbers, booleans or nulls.
using JsonObject = nlohmann::json;

struct JsonParse {
    std::optional<JsonObject> object; // empty when the text is not a flat object
    std::string error;                // why, for a log line (never the text itself)
};

// Reads one flat object, strictly: no comments, no byte-order mark, no text after it, no
// number out of double's range, strings of valid UTF-8 only. Duplicate keys: the last one wins,
// as most readers do.
JsonParse parseFlatJsonObject(std::string_view text);

// Convenience lookups; empty when the key is missing or of another kind.
std::optional<std::string> jsonString(const JsonObject& object, std::string_view key);
std::optional<double> jsonNumber(const JsonObject& object, std::string_view key);
std::optional<bool> jsonBool(const JsonObject& object, std::string_view key);

} // namespace corvane
