#include "support/Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Reader {
public:
    explicit Reader(std::string_view text) : m_s(text) {}

    JsonParse object() {
        JsonParse result;
        JsonObject object;
        space();
        if (!take('{'))
            return fail("not a JSON object");
        space();
        if (!take('}')) {
            for (;;) {
                space();
                std::string key;
                if (!string(key))
                    return fail(m_error.empty() ? "a key must be a string" : m_error);
                space();
                if (!take(':'))
                    return fail("':' missing after a key");
                space();
                JsonValue value;
                if (!this->value(value))
                    return fail(m_error);
                object[key] = std::move(value);
                space();
                if (take(','))
                    continue;
                if (take('}'))
                    break;
                return fail("',' or '}' missing");
            }
        }
        space();
        if (m_i != m_s.size())
            return fail("text after the object");
        result.object = std::move(object);
        return result;
    }

private:
    JsonParse fail(const std::string& why) {
        JsonParse result;
        result.error = why + " (at byte " + std::to_string(m_i) + ")";
        return result;
    }
    void space() {
        while (m_i < m_s.size() &&
               (m_s[m_i] == ' ' || m_s[m_i] == '\t' || m_s[m_i] == '\n' || m_s[m_i] == '\r'))
            ++m_i;
    }
    bool take(char c) {
        if (m_i < m_s.size() && m_s[m_i] == c) {
            ++m_i;
            return true;
        }
        return false;
    }
    bool word(std::string_view w) {
        if (m_s.substr(m_i, w.size()) != w)
            return false;
        m_i += w.size();
        return true;
    }
    bool hex4(uint32_t& out) {
        if (m_i + 4 > m_s.size())
            return false;
        out = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = m_s[m_i++];
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                out |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                out |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }
    bool string(std::string& out) {
        if (!take('"'))
            return false;
        while (m_i < m_s.size()) {
            const auto c = static_cast<unsigned char>(m_s[m_i]);
            if (c == '"') {
                ++m_i;
                return true;
            }
            if (c < 0x20) {
                m_error = "control character in a string";
                return false;
            }
            if (c != '\\') {
                const size_t n = utf8Length(m_s, m_i);
                if (n == 0) {
                    m_error = "a string is not valid UTF-8";
                    return false;
                }
                out.append(m_s.substr(m_i, n));
                m_i += n;
                continue;
            }
            ++m_i;
            if (m_i >= m_s.size())
                break;
            const char e = m_s[m_i++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t cp;
                if (!hex4(cp)) {
                    m_error = "bad \\u escape";
                    return false;
                }
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    uint32_t low;
                    if (!word("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                        m_error = "unpaired surrogate";
                        return false;
                    }
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    m_error = "unpaired surrogate";
                    return false;
                }
                appendUtf8(out, cp);
                break;
            }
            default:
                m_error = "bad escape in a string";
                return false;
            }
        }
        m_error = "unterminated string";
        return false;
    }
    bool number(double& out) {
        const size_t start = m_i;
        take('-');
        if (take('0')) {
        } else if (m_i < m_s.size() && m_s[m_i] >= '1' && m_s[m_i] <= '9') {
            while (m_i < m_s.size() && m_s[m_i] >= '0' && m_s[m_i] <= '9')
                ++m_i;
        } else {
            return false;
        }
        if (take('.')) {
            if (m_i >= m_s.size() || m_s[m_i] < '0' || m_s[m_i] > '9')
                return false;
            while (m_i < m_s.size() && m_s[m_i] >= '0' && m_s[m_i] <= '9')
                ++m_i;
        }
        if (take('e') || take('E')) {
            if (!take('+'))
                take('-');
            if (m_i >= m_s.size() || m_s[m_i] < '0' || m_s[m_i] > '9')
                return false;
            while (m_i < m_s.size() && m_s[m_i] >= '0' && m_s[m_i] <= '9')
                ++m_i;
        }
        // from_chars, not strtod: a locale with a decimal comma must not change the reading.
        const char* first = m_s.data() + start;
        const char* last = m_s.data() + m_i;
        const auto [end, ec] = std::from_chars(first, last, out);
        return ec == std::errc() && end == last && std::isfinite(out);
    }
    bool value(JsonValue& out) {
        if (m_i >= m_s.size()) {
            m_error = "value missing";
            return false;
        }
        const char c = m_s[m_i];
        if (c == '"') {
            out.kind = JsonValue::Kind::String;
            if (string(out.string))
                return true;
            if (m_error.empty())
                m_error = "bad string";
            return false;
        }
        if (c == '{' || c == '[') {
            m_error = "nested values are not accepted";
            return false;
        }
        if (word("true")) {
            out.kind = JsonValue::Kind::Bool;
            out.boolean = true;
            return true;
        }
        if (word("false")) {
            out.kind = JsonValue::Kind::Bool;
            out.boolean = false;
            return true;
        }
        if (word("null")) {
            out.kind = JsonValue::Kind::Null;
            return true;
        }
        out.kind = JsonValue::Kind::Number;
        if (number(out.number))
            return true;
        m_error = "not a JSON value";
        return false;
    }

    std::string_view m_s;
    size_t m_i = 0;
    std::string m_error;
};

} // namespace

std::string jsonQuote(std::string_view text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            switch (c) {
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            }
            }
            ++i;
        } else {
            const size_t n = utf8Length(text, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out.append(text.substr(i, n));
                i += n;
            }
        }
    }
    out += '"';
    return out;
}

void JsonObjectWriter::key(std::string_view key) {
    if (m_text.size() > 1)
        m_text += ',';
    m_text += jsonQuote(key);
    m_text += ':';
}

JsonObjectWriter& JsonObjectWriter::add(std::string_view k, std::string_view value) {
    key(k);
    m_text += jsonQuote(value);
    return *this;
}

JsonObjectWriter& JsonObjectWriter::add(std::string_view k, const char* value) {
    return value ? add(k, std::string_view(value)) : addNull(k);
}

JsonObjectWriter& JsonObjectWriter::add(std::string_view k, int64_t value) {
    key(k);
    m_text += std::to_string(value);
    return *this;
}

JsonObjectWriter& JsonObjectWriter::add(std::string_view k, uint64_t value) {
    key(k);
    m_text += std::to_string(value);
    return *this;
}

JsonObjectWriter& JsonObjectWriter::add(std::string_view k, bool value) {
    key(k);
    m_text += value ? "true" : "false";
    return *this;
}

JsonObjectWriter& JsonObjectWriter::addNull(std::string_view k) {
    key(k);
    m_text += "null";
    return *this;
}

JsonObjectWriter& JsonObjectWriter::add(std::string_view k, const std::optional<std::string>& value) {
    return value ? add(k, std::string_view(*value)) : addNull(k);
}

JsonParse parseFlatJsonObject(std::string_view text) {
    return Reader(text).object();
}

std::optional<std::string> jsonString(const JsonObject& object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end() || it->second.kind != JsonValue::Kind::String)
        return std::nullopt;
    return it->second.string;
}

std::optional<double> jsonNumber(const JsonObject& object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end() || it->second.kind != JsonValue::Kind::Number)
        return std::nullopt;
    return it->second.number;
}

std::optional<bool> jsonBool(const JsonObject& object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end() || it->second.kind != JsonValue::Kind::Bool)
        return std::nullopt;
    return it->second.boolean;
}

} // namespace corvane
