#include "support/IniFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";
// Far above any real configuration or machine file.
constexpr off_t MaxIniFileSize = 16 * 1024 * 1024;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// What one stored line means to a reader.
struct LineView {
    enum Kind { Other, Section, Key } kind = Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // key value, trimmed, quotes still on
    size_t valueStart = 0;  // offset of the value, after '=' and its blanks
};

LineView classify(std::string_view line) {
    LineView view;
    std::string_view body = trim(line);
    if (body.empty() || body.front() == ';') {
        return view;
    }
    if (body.front() == '[') {
        body.remove_prefix(1);
        size_t close = body.find(']');
        view.kind = LineView::Section;
        view.name = trim(close == std::string_view::npos ? body : body.substr(0, close));
        return view;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        return view;
    }
    std::string_view key = trim(line.substr(0, eq));
    if (key.empty()) {
        return view;
    }
    view.kind = LineView::Key;
    view.name = key;
    view.value = trim(line.substr(eq + 1));
    view.valueStart = eq + 1;
    while (view.valueStart < line.size() &&
           (line[view.valueStart] == ' ' || line[view.valueStart] == '\t')) {
        ++view.valueStart;
    }
    return view;
}

// A line break inside a name or value would split it into lines of its own and could plant
// keys or sections the caller never meant; only the first line of such a text is kept.
std::string_view firstLine(std::string_view s) {
    size_t end = s.find_first_of("\r\n");
    return end == std::string_view::npos ? s : s.substr(0, end);
}

std::string errnoText(int error) {
    return std::strerror(error);
}

bool writeAll(int fd, const std::string& data) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

} // namespace

IniFile IniFile::parse(std::string_view text) {
    IniFile ini;
    if (text.substr(0, Bom.size()) == Bom) {
        ini.m_bom = true;
        text.remove_prefix(Bom.size());
    }
    size_t firstBreak = text.find('\n');
    ini.m_crlf =
        firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r';
    // Lines keep a CR of their own, so each is written back exactly as it came; only lines
    // this document adds take the file's style.
    while (!text.empty()) {
        size_t end = text.find('\n');
        ini.m_lines.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return ini;
}

IniFile IniFile::load(const std::string& path, IniError* error) {
    auto fail = [&](int err) {
        if (error) {
            error->message = "Cannot read \"" + path + "\": " + errnoText(err);
        }
        return IniFile();
    };
    if (error) {
        error->message.clear();
    }
    // Not blocking: a FIFO named as a settings file must not hang the program in open().
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            return IniFile();
        }
        return fail(errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return fail(err);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail(EISDIR);
    }
    // Settings live in ordinary files of a few kilobytes. A device, a FIFO or a file of many
    // megabytes is a wrong name, and reading it could block or fill the memory.
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error)
            error->message = "Cannot read \"" + path + "\": not an ordinary file";
        return IniFile();
    }
    if (st.st_size > MaxIniFileSize) {
        ::close(fd);
        if (error)
            error->message = "Cannot read \"" + path + "\": too large for a settings file";
        return IniFile();
    }
    std::string data;
    char chunk[16384];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            int err = errno;
            ::close(fd);
            return fail(err);
        }
        if (n == 0) {
            break;
        }
        data.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    IniFile ini = parse(data);
    ini.m_exists = true;
    return ini;
}

bool IniFile::hasSection(std::string_view section) const {
    for (const std::string& line : m_lines) {
        LineView view = classify(line);
        if (view.kind == LineView::Section && sameName(view.name, section)) {
            return true;
        }
    }
    return false;
}

namespace {

// The key lines of the first section named `section`, in file order. Only the first section
// of a name counts, as with the platform's own reader.
std::vector<LineView> sectionKeys(const std::vector<std::string>& lines, std::string_view section) {
    std::vector<LineView> keys;
    bool inSection = false;
    for (const std::string& line : lines) {
        LineView view = classify(line);
        if (view.kind == LineView::Section) {
            if (inSection)
                break;
            inSection = sameName(view.name, section);
        } else if (view.kind == LineView::Key && inSection) {
            keys.push_back(view);
        }
    }
    return keys;
}

} // namespace

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const {
    key = trim(key);
    if (key.empty()) {
        return std::nullopt;
    }
    for (const LineView& view : sectionKeys(m_lines, trim(section))) {
        if (sameName(view.name, key)) {
            std::string_view value = view.value;
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            return std::string(value);
        }
    }
    return std::nullopt;
}

std::vector<std::string> IniFile::keys(std::string_view section) const {
    std::vector<std::string> names;
    for (const LineView& view : sectionKeys(m_lines, trim(section)))
        names.emplace_back(view.name);
    return names;
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
    section = trim(firstLine(section));
    key = trim(firstLine(key));
    value = firstLine(value);
    if (key.empty()) {
        return; // a line "=value" could never be read back
    }
    const std::string eol = m_crlf ? "\r" : "";
    std::string keyLine = std::string(key) + "=" + std::string(value) + eol;

    size_t header = m_lines.size();
    for (size_t i = 0; i < m_lines.size(); ++i) {
        LineView view = classify(m_lines[i]);
        if (view.kind == LineView::Section && sameName(view.name, section)) {
            header = i;
            break;
        }
    }
    if (header == m_lines.size()) {
        if (!m_lines.empty() && !trim(m_lines.back()).empty()) {
            m_lines.push_back(eol);
        }
        m_lines.push_back("[" + std::string(section) + "]" + eol);
        m_lines.push_back(std::move(keyLine));
        return;
    }
    // New keys go after the section's last non-blank line, so the blank line that usually
    // separates it from the next section stays where it is.
    size_t insertAt = header + 1;
    for (size_t i = header + 1; i < m_lines.size(); ++i) {
        LineView view = classify(m_lines[i]);
        if (view.kind == LineView::Section) {
            break;
        }
        if (view.kind == LineView::Key && sameName(view.name, key)) {
            // Keep the key as the file spells it; only the value changes.
            bool cr = m_lines[i].back() == '\r';
            m_lines[i] =
                m_lines[i].substr(0, view.valueStart) + std::string(value) + (cr ? "\r" : "");
            return;
        }
        if (!trim(m_lines[i]).empty()) {
            insertAt = i + 1;
        }
    }
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(keyLine));
}

std::string IniFile::text() const {
    std::string out;
    if (m_bom) {
        out += Bom;
    }
    for (const std::string& line : m_lines) {
        out += line;
        out += '\n';
    }
    return out;
}

IniError IniFile::save(const std::string& path) const {
    auto fail = [&](int err) {
        return IniError{"Cannot write \"" + path + "\": " + errnoText(err)};
    };
    if (path.empty()) {
        return fail(ENOENT);
    }
    // Write through a symbolic link rather than replacing the link by a plain file.
    std::string target = path;
    struct stat st {};
    bool existed = false;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved)) {
            target = resolved;
        }
    }
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return fail(EISDIR);
        }
        existed = true;
    }

    std::string temp = folderOf(target) + "/.cvn-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return fail(errno);
    }
    mode_t mode;
    if (existed) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        return fail(err);
    };
    if (::fchmod(fd, mode) != 0) {
        return abandon(errno);
    }
    if (!writeAll(fd, text())) {
        return abandon(errno);
    }
    if (::fsync(fd) != 0) {
        return abandon(errno);
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return fail(err);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return fail(err);
    }
    // The rename itself is only durable once the folder is on disk; a failure here leaves a
    // complete file either way, so it is not reported.
    int dir = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

} // namespace corvane
