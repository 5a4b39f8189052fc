#include "Reporter.h"

#include <cerrno>
#include <cstring>

#include "MonotonicClock.h"

namespace cncsim {

void Reporter::print(const char* kind, const std::string& text) const {
    long long ms = (monotonicUs() - m_startUs) / 1000;
    std::fprintf(stderr, "cnc-sim: %s[%lld ms] %s\n", kind, ms, text.c_str());
    std::fflush(stderr);
}

void Reporter::event(const std::string& text) const {
    if (m_verbose)
        print("", text);
}

void Reporter::alarm(const std::string& text) const {
    // The alarm line starts with "ALARM" so that a test or a person can grep for it.
    std::fprintf(stderr, "ALARM %s\n", text.c_str());
    std::fflush(stderr);
}

void Reporter::failure(const std::string& text) const {
    print("", text);
}

bool Recorder::open(const std::string& path, std::string& error) {
    m_file.reset(std::fopen(path.c_str(), "wb"));
    if (!m_file) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void Recorder::write(const uint8_t* data, size_t size) {
    if (!m_file || size == 0)
        return;
    std::fwrite(data, 1, size, m_file.get());
    std::fflush(m_file.get());
}

std::string codeName(int code) {
    char text[24];
    const char* name = nullptr;
    switch (code) {
    case 0x11:
        name = "DC1";
        break;
    case 0x12:
        name = "DC2";
        break;
    case 0x13:
        name = "DC3";
        break;
    case 0x14:
        name = "DC4";
        break;
    default:
        break;
    }
    if (name)
        std::snprintf(text, sizeof text, "%s (0x%02X)", name, code);
    else
        std::snprintf(text, sizeof text, "0x%02X", code);
    return text;
}

} // namespace cncsim
