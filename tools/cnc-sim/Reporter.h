#pragma once
// What the simulator says while it runs: events on stderr when asked (-v), alarms and
// failures always, each prefixed with the milliseconds since start so a soak log can be
// lined up with the host's.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace cncsim {

class Reporter {
public:
    Reporter(bool verbose, int64_t startUs) : m_verbose(verbose), m_startUs(startUs) {}

    void event(const std::string& text) const;   // only with -v
    void alarm(const std::string& text) const;   // always
    void failure(const std::string& text) const; // always

private:
    void print(const char* kind, const std::string& text) const;

    bool m_verbose;
    int64_t m_startUs;
};

// --record: the bytes from the host, in order, flushed per chunk so that a test reading the
// file right after our exit sees all of it.
class Recorder {
public:
    bool open(const std::string& path, std::string& error);
    void write(const uint8_t* data, size_t size);

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> m_file;
};

std::string codeName(int code); // "DC3 (0x13)"

} // namespace cncsim
