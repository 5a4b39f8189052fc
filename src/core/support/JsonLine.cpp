#include "support/JsonLine.h"

#include <cmath>

namespace corvane {

namespace {

// Length of the valid UTF-8 sequence starting at `i`, or 0 when the bytes there are not one.
size_t utf8Length(std::string_view s, size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp;
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

// The library's own replacement gives one U+FFFD per broken sequence; the journal has always
// written one per byte that starts no sequence, and its lines must not change.
void replaceBrokenUtf8(std::string& text) {
    size_t i = 0;
    while (i < text.size() && utf8Length(text, i) != 0)
        i += utf8Length(text, i);
    if (i == text.size())
        return;
    std::string out = text.substr(0, i);
    while (i < text.size()) {
        const size_t n = utf8Length(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    text = std::move(out);
}

// The library writes \b and \f and leaves DEL as it is; the journal has always written the
// three as \u0008, \u000c and \u007f. In the library's output a backslash only ever starts an
// escape inside a string, so the pairs can be told apart from the text around them.
std::string journalEscapes(const std::string& dumped) {
    if (dumped.find_first_of("\\\x7f") == std::string::npos)
        return dumped;
    std::string out;
    out.reserve(dumped.size() + 16);
    for (size_t i = 0; i < dumped.size(); ++i) {
        const char c = dumped[i];
        if (c == '\\' && i + 1 < dumped.size()) {
            const char e = dumped[++i];
            out += e == 'b' ? "\\u0008" : e == 'f' ? "\\u000c" : std::string{'\\', e};
        } else if (c == '\x7f') {
            out += "\\u007f";
        } else {
            out += c;
        }
    }
    return out;
}

// The reason from the library's message, without the input it quotes ("last read: ..."):
// the text comes from anyone on the broker and goes into log lines and records.
std::string reasonOf(const nlohmann::json::parse_error& e) {
    std::string what = e.what();
    const size_t last = what.find("; last read");
    if (last != std::string::npos)
        what.erase(last);
    const size_t column = what.find("column ");
    const size_t colon = column == std::string::npos ? std::string::npos : what.find(": ", column);
    if (colon != std::string::npos)
        what.erase(0, colon + 2);
    return what + " (at byte " + std::to_string(e.byte) + ")";
}

JsonParse failed(std::string why) {
    JsonParse result;
    result.error = std::move(why);
    return result;
}

} // namespace

std::string jsonLine(const JsonWriteObject& object) {
    JsonWriteObject clean;
    for (const auto& [key, value] : object.items()) {
        std::string k = key;
        replaceBrokenUtf8(k);
        if (value.is_string()) {
            std::string text = value.get<std::string>();
            replaceBrokenUtf8(text);
            clean[k] = std::move(text);
        } else {
            clean[k] = value;
        }
    }
    return journalEscapes(clean.dump());
}

JsonParse parseFlatJsonObject(std::string_view text) {
    // The library would step over a byte-order mark; nothing we exchange starts with one.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        return failed("a byte-order mark before the object (at byte 0)");
    JsonObject object;
    try {
        object = nlohmann::json::parse(text.begin(), text.end(), nullptr, true, false);
    } catch (const nlohmann::json::parse_error& e) {
        return failed(reasonOf(e));
    } catch (const nlohmann::json::out_of_range&) {
        // The library refuses a number past double's range this way (its message quotes it).
        return failed("a number out of range");
    } catch (const nlohmann::json::exception&) {
        return failed("not valid JSON");
    }
    if (!object.is_object())
        return failed("not a JSON object");
    for (const auto& value : object) {
        if (value.is_structured())
            return failed("nested values are not accepted");
        if (value.is_number_float() && !std::isfinite(value.get<double>()))
            return failed("a number out of range");
    }
    JsonParse result;
    result.object = std::move(object);
    return result;
}

std::optional<std::string> jsonString(const JsonObject& object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

std::optional<double> jsonNumber(const JsonObject& object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number())
        return std::nullopt;
    return it->get<double>();
}

std::optional<bool> jsonBool(const JsonObject& object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_boolean())
        return std::nullopt;
    return it->get<bool>();
}

} // namespace corvane
