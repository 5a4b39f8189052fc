#include "FuzzSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace corvane::fuzz {

namespace {

class ScratchFile {
public:
    explicit ScratchFile(const char* name) {
        const char* folder = std::getenv("TMPDIR");
        if (folder == nullptr || *folder == '\0')
            folder = "/tmp";
        std::string pattern = std::string(folder) + "/corvane-fuzz-" + name + "-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        FUZZ_CHECK(fd >= 0);
        ::close(fd);
        m_path = pattern;
    }
    ~ScratchFile() { ::unlink(m_path.c_str()); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace

const std::string& ScratchPath(const char* name) {
    // One per process by design (see the header); the name of the first caller wins.
    static const ScratchFile file(name);
    return file.path();
}

void WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0);
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

std::string TerminatedField(const char* field, size_t size) {
    const size_t length = strnlen(field, size);
    FUZZ_CHECK(length < size);
    return std::string(field, length);
}

} // namespace corvane::fuzz
