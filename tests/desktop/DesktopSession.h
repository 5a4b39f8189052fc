#pragma once
// A private desktop for one test: an X server (Xvfb) on a display it picks itself, a light
// window manager (openbox) with a configuration of its own, and the tools a person's hands and
// eyes are replaced by: xdotool for the pointer and the keys, ImageMagick's import for the
// screen. Everything runs as a child process and ends with the session.
//
// Every wait blocks on a child process or its output against a deadline; none spins.

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace corvane::testing {

// One screenshot, 8 bits per channel.
struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    struct Pixel {
        int r, g, b;
    };
    Pixel at(int x, int y) const {
        const size_t i = (size_t(y) * size_t(width) + size_t(x)) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

// Reads the binary PPM (P6, maxval 255) that `import -depth 8 ppm:FILE` writes.
inline std::optional<Screenshot> readPpm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    Screenshot shot;
    if (!(in >> magic >> shot.width >> shot.height >> maxval) || magic != "P6" || maxval != 255)
        return std::nullopt;
    in.get(); // the one whitespace before the pixels
    shot.rgb.resize(size_t(shot.width) * size_t(shot.height) * 3);
    if (!in.read(reinterpret_cast<char*>(shot.rgb.data()), std::streamsize(shot.rgb.size())))
        return std::nullopt;
    return shot;
}

class DesktopSession {
public:
    // `folder` holds the window manager's configuration; it must exist.
    explicit DesktopSession(std::string folder) : m_folder(std::move(folder)) {}
    // The server is asked to end, not killed, so that it takes its lock file and socket away.
    ~DesktopSession() {
        for (ChildProcess* child : {&m_manager, &m_server}) {
            if (child->started() && !child->exited()) {
                child->signal(SIGTERM);
                child->wait(3000);
            }
        }
    }
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // Starts the X server and the window manager and waits until the manager has taken the
    // screen. False with a reason in error() when either cannot start.
    bool start(int timeoutMs = 10000) {
        const long long deadline = steadyNowMs() + timeoutMs;
        if (!m_server.start(XVFB_PATH, {"-displayfd", "1", "-screen", "0", "1600x1000x24",
                                        "-nolisten", "tcp", "-noreset"})) {
            m_error = "Xvfb did not start (scripts/install-deps.sh installs it)";
            return false;
        }
        if (!m_server.waitForOutput("\n", int(deadline - steadyNowMs()))) {
            m_error = "Xvfb named no display: " + m_server.err();
            return false;
        }
        m_display = ":" + m_server.out().substr(0, m_server.out().find('\n'));

        // Its own configuration folder, so a user's openbox settings never enter a test.
        std::filesystem::create_directories(m_folder + "/wm");
        if (!m_manager.start(OPENBOX_PATH, {"--sm-disable"},
                             {"DISPLAY=" + m_display, "XDG_CONFIG_HOME=" + m_folder + "/wm"})) {
            m_error = "openbox did not start";
            return false;
        }
        // The manager announces itself on the root window once it manages the screen.
        while (steadyNowMs() < deadline) {
            const auto out = tool(XPROP_PATH, {"-root", "_NET_SUPPORTING_WM_CHECK"}, 3000);
            if (out && out->find("window id") != std::string::npos)
                return true;
            m_manager.pump(50);
            if (m_manager.exited())
                break;
        }
        m_error = "openbox did not take the screen: " + m_manager.err();
        return false;
    }

    const std::string& display() const { return m_display; }
    const std::string& error() const { return m_error; }

    // Runs a tool on this display to its end; its stdout, or nothing when it failed or did not
    // end in time.
    std::optional<std::string> tool(const std::string& path, const std::vector<std::string>& args,
                                    int timeoutMs = 5000) const {
        ChildProcess child;
        if (!child.start(path, args, {"DISPLAY=" + m_display}))
            return std::nullopt;
        const std::optional<int> status = child.wait(timeoutMs);
        if (status != 0)
            return std::nullopt;
        return child.out();
    }

    std::optional<std::string> xdotool(const std::vector<std::string>& args,
                                       int timeoutMs = 5000) const {
        return tool(XDOTOOL_PATH, args, timeoutMs);
    }

    // The first visible top-level window of process `pid` whose name holds `name`, once it
    // is mapped; nothing when none appeared within `timeoutMs`.
    std::optional<std::string> waitForWindow(int pid, const std::string& name,
                                             int timeoutMs) const {
        const auto out = xdotool(
            {"search", "--sync", "--onlyvisible", "--pid", std::to_string(pid), "--name", name},
            timeoutMs);
        if (!out || out->empty())
            return std::nullopt;
        return out->substr(0, out->find('\n'));
    }

    struct Geometry {
        int x = 0, y = 0, width = 0, height = 0;
    };
    std::optional<Geometry> geometry(const std::string& window) const {
        const auto out = xdotool({"getwindowgeometry", "--shell", window});
        if (!out)
            return std::nullopt;
        Geometry g;
        auto value = [&](const char* key) {
            const size_t at = out->find(std::string(key) + "=");
            return at == std::string::npos ? -1
                                           : std::atoi(out->c_str() + at + std::strlen(key) + 1);
        };
        g.x = value("X");
        g.y = value("Y");
        g.width = value("WIDTH");
        g.height = value("HEIGHT");
        if (g.width <= 0 || g.height <= 0)
            return std::nullopt;
        return g;
    }

    // The window's own pixels (without the manager's frame), read back for checking.
    std::optional<Screenshot> capture(const std::string& window, const std::string& ppmPath) const {
        if (!tool(IMPORT_PATH, {"-window", window, "-depth", "8", "ppm:" + ppmPath}, 10000))
            return std::nullopt;
        return readPpm(ppmPath);
    }

    // The window as a person sees it, with the manager's frame, as PNG for review.
    bool savePng(const std::string& window, const std::string& pngPath) const {
        return tool(IMPORT_PATH, {"-frame", "-window", window, pngPath}, 10000).has_value();
    }

private:
    std::string m_folder;
    ChildProcess m_server;
    ChildProcess m_manager;
    std::string m_display;
    std::string m_error;
};

} // namespace corvane::testing
