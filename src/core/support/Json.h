#pragma once
// JSON for the transfer journal and the shop broker. Everything exchanged there is one flat
// object of strings, numbers, booleans and nulls, so that is all the reader accepts: a
// nested value is reported as an error rather than half understood.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Writes one object on one line, keys in the order they are added.
class JsonObjectWriter {
public:
    JsonObjectWriter& add(std::string_view key, std::string_view value);
    JsonObjectWriter& add(std::string_view key, const char* value);
    JsonObjectWriter& add(std::string_view key, const std::string& value) {
        return add(key, std::string_view(value));
    }
    JsonObjectWriter& add(std::string_view key, int64_t value);
    JsonObjectWriter& add(std::string_view key, uint64_t value);
    JsonObjectWriter& add(std::string_view key, int value) { return add(key, int64_t{value}); }
    JsonObjectWriter& add(std::string_view key, bool value);
    JsonObjectWriter& addNull(std::string_view key);
    // A string, or null when there is none.
    JsonObjectWriter& add(std::string_view key, const std::optional<std::string>& value);
    // The object text, without a line end.
    std::string text() const { return m_text + "}"; }

private:
    void key(std::string_view key);
    std::string m_text = "{";
};

// A string as a JSON string literal, quotes included. Bytes that are not valid UTF-8 are
// written as U+FFFD so the result is always valid JSON.
std::string jsonQuote(std::string_view text);

struct JsonValue {
    enum class Kind { String, Number, Bool, Null };
    Kind kind = Kind::Null;
    std::string string; // String: the decoded text (UTF-8)
    double number = 0;  // Number
    bool boolean = false;
};

using JsonObject = std::map<std::string, JsonValue, std::less<>>;

struct JsonParse {
    std::optional<JsonObject> object; // empty when the text is not a flat object
    std::string error;                // why, for a log line
};

// Reads one flat object. Duplicate keys: the last one wins, as most readers do.
JsonParse parseFlatJsonObject(std::string_view text);

// Convenience lookups; empty when the key is missing or of another kind.
std::optional<std::string> jsonString(const JsonObject& object, std::string_view key);
std::optional<double> jsonNumber(const JsonObject& object, std::string_view key);
std::optional<bool> jsonBool(const JsonObject& object, std::string_view key);

} // namespace corvane
