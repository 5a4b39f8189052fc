#pragma once
// An INI document held in memory, with the observable rules of the Windows profile services:
// section and key names compared without regard to case, the first matching section and key
// win, blanks around names and values ignored, a value wrapped in double quotes read without
// them. Saving keeps every other line, comment and section where it was and replaces the file
// atomically (temporary file in the same folder, then rename).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct IniError {
    std::string message; // empty: no error
    explicit operator bool() const { return !message.empty(); }
};

class IniFile {
public:
    // A missing file loads as an empty document (exists() false) without an error.
    static IniFile load(const std::string& path, IniError* error = nullptr);
    static IniFile parse(std::string_view text);

    bool exists() const { return m_exists; }
    bool hasSection(std::string_view section) const;
    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    // The key names of the first section of that name, in file order, as written.
    std::vector<std::string> keys(std::string_view section) const;
    // Replaces the first matching key's value, else appends the key to the first matching
    // section, else appends a new section. Line breaks in the texts end them (a value cannot
    // plant lines of its own); an empty key is ignored.
    void set(std::string_view section, std::string_view key, std::string_view value);

    std::string text() const;
    IniError save(const std::string& path) const;

private:
    // Lines are kept without their LF (a CR stays with its line); lines added take the file's
    // line-end style, and the byte-order mark is written back, so an edited file differs from
    // the old one only where it changed.
    std::vector<std::string> m_lines;
    bool m_exists = false;
    bool m_crlf = false;
    bool m_bom = false;
};

} // namespace corvane
