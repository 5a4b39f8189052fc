// The real window on a real X server, as a machinist meets it: the pointer resting on the tool
// bar, the menus from the keyboard, a send the machine holds, a file opened from a file
// manager, in English and Japanese, at 100 % and 150 %, on a light and a dark desktop. What
// is visual is checked on the screen's pixels; what the program knows is asked over its own
// local socket. The machine is cnc-sim on a pseudo-terminal.

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop/DesktopSession.h"
#include "support/ChildProcess.h"
#include "support/SimProcess.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Bytes word(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

// One request on the window's local socket ({kind, size, data} in, one i32 out); nothing
// when nobody listens or no answer came.
std::optional<int32_t> linkRequest(const std::string& socketPath, uint32_t kind, const Bytes& body,
                                   int timeoutMs = 3000) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(),
                std::min(socketPath.size() + 1, sizeof address.sun_path));
    std::optional<int32_t> answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        Bytes frame = word(kind);
        const Bytes size = word(uint32_t(body.size()));
        frame.insert(frame.end(), size.begin(), size.end());
        frame.insert(frame.end(), body.begin(), body.end());
        uint8_t in[4];
        size_t got = 0;
        if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == ssize_t(frame.size())) {
            pollfd p{fd, POLLIN, 0};
            while (got < 4 && ::poll(&p, 1, timeoutMs) > 0) {
                const ssize_t n = ::read(fd, in + got, 4 - got);
                if (n <= 0)
                    break;
                got += size_t(n);
            }
        }
        if (got == 4)
            answer = int32_t(uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 |
                             uint32_t(in[3]) << 24);
    }
    ::close(fd);
    return answer;
}

constexpr uint32_t Command = 0x0111;
constexpr uint32_t StatusQuery = 0x05FE;

// ISO with XON/XOFF on the simulator's device, waiting for its DC1.
std::string isoMachine(const std::string& device) {
    return "[MCN_RS232C]\nBaudRate=7\nDataLen=0\nParity=2\nStop=1\nHandShake=1\nOutCode=0\n"
           "PtrStart=17\nPtrStop=19\nPtpStart=18\nPtpStop=20\nPortName=" +
           device +
           "\n[MCN_Config]\nOutofFile=0\nXoff=1\nErCode=3\nLfCode=1\nComment=0\nHeadLf=1\n"
           "PtpNull=5;3;0\nPtpSpace=0;0;0\nSendDelay=0\n";
}

// Sixty blocks: the machine's hold after 300 characters comes with the pane half full.
std::string partProgram() {
    std::string text = "%\n";
    for (int i = 1; i <= 60; ++i) {
        char block[64];
        std::snprintf(block, sizeof block, "N%04d G01 X%d.5 Y-%d.25 F1200.\n", i * 10, i, i);
        text += block;
    }
    return text + "M30\n%\n";
}

struct Variant {
    std::string language; // "en" or "ja"
    double scale;         // QT_SCALE_FACTOR
    bool dark;            // a dark palette through the desktop's Qt theme (qt6ct)
    std::string name() const {
        return language + "-" + (scale > 1.0 ? "150" : "100") + "-" + (dark ? "dark" : "light");
    }
};

// What a held send shows in the log pane: the bands of image rows that hold text, by colour:
// silver data rows, yellow code lines ("[DC2] Send...", brackets from the top of the line
// to below its baseline), the red waiting line.
enum class Ink { Data, Code, Waiting };
struct TextBand {
    int top;
    int bottom; // inclusive
    Ink ink;
    bool waiting() const { return ink == Ink::Waiting; }
};

// The log pane is the navy area (the colours of a first start); its text bands are found in
// its left part, where the rows' text is.
std::vector<TextBand> logBands(const Screenshot& shot) {
    auto navy = [](Screenshot::Pixel p) { return p.b > p.r + 50 && p.b > p.g + 50; };
    const int probeX = shot.width * 9 / 10;
    int paneTop = -1;
    int paneBottom = -1;
    for (int y = 0; y < shot.height; ++y) {
        if (navy(shot.at(probeX, y))) {
            if (paneTop < 0)
                paneTop = y;
            paneBottom = y;
        } else if (paneTop >= 0) {
            break;
        }
    }
    std::vector<TextBand> bands;
    if (paneTop < 0)
        return bands;
    const int right = shot.width * 6 / 10;
    for (int y = paneTop; y <= paneBottom; ++y) {
        int silver = 0;
        int yellow = 0;
        int red = 0;
        for (int x = 2; x < right; ++x) {
            const auto p = shot.at(x, y);
            if (p.r > 120 && p.g > 120 && p.b > 120 && std::abs(p.r - p.b) < 50)
                ++silver;
            else if (p.r > 150 && p.g > 150 && p.b < 120)
                ++yellow;
            else if (p.r > 150 && p.g < 100 && p.b < 140)
                ++red;
        }
        if (std::max({silver, yellow, red}) < 2)
            continue;
        const Ink ink = silver >= yellow && silver >= red ? Ink::Data
                        : yellow >= red                   ? Ink::Code
                                                          : Ink::Waiting;
        if (!bands.empty() && bands.back().bottom == y - 1 && bands.back().ink == ink)
            bands.back().bottom = y;
        else
            bands.push_back({y, y, ink});
    }
    return bands;
}

// What the status bar's right half shows, where the flow-control state and the block count
// are painted (the size grip left out): how many pixels stand out from the bar's own
// background, and how far the lightness of the bluish ones (the texts, in the link colour;
// the parts' frames are grey) is from the background's: blue on dark grey stands out in
// colour, but hardly in lightness.
struct StatusInk {
    int pixels = 0;
    int contrast = 0;   // 0..255, of the most distinct bluish pixel
    int background = 0; // lightness 0..255
};

int lightness(int r, int g, int b) {
    return (299 * r + 587 * g + 114 * b) / 1000;
}

StatusInk statusInk(const Screenshot& shot, double scale) {
    const int gripRoom = int(28 * scale);
    const int top = shot.height - int(22 * scale);
    const int bottom = shot.height - int(5 * scale);
    std::map<int, int> colours;
    auto key = [](Screenshot::Pixel p) { return (p.r << 16) | (p.g << 8) | p.b; };
    for (int y = top; y < bottom; ++y)
        for (int x = shot.width / 2; x < shot.width - gripRoom; ++x)
            ++colours[key(shot.at(x, y))];
    int background = 0;
    int most = 0;
    for (const auto& [colour, count] : colours)
        if (count > most) {
            most = count;
            background = colour;
        }
    const int br = background >> 16, bg = (background >> 8) & 0xFF, bb = background & 0xFF;
    StatusInk ink;
    ink.background = lightness(br, bg, bb);
    for (int y = top; y < bottom; ++y)
        for (int x = shot.width / 2; x < shot.width - gripRoom; ++x) {
            const auto p = shot.at(x, y);
            if (std::abs(p.r - br) + std::abs(p.g - bg) + std::abs(p.b - bb) <= 150)
                continue;
            ++ink.pixels;
            if (p.b > p.r + 40 && p.b > p.g + 10)
                ink.contrast =
                    std::max(ink.contrast, std::abs(lightness(p.r, p.g, p.b) - ink.background));
        }
    return ink;
}

class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "cvn-desktop-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_session = std::make_unique<DesktopSession>(m_dir);
        ASSERT_TRUE(m_session->start()) << m_session->error();
        writeFile(file("PART.NC"), partProgram());
        fs::create_directories(CORVANE_SCREENSHOT_DIR);
    }
    void TearDown() override {
        m_session.reset();
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    std::string file(const std::string& name) const { return m_dir + "/" + name; }
    std::string socketPath() const { return m_dir + "/run/corvane/CVN_FrameClass"; }
    std::string shotPath(const std::string& name) const {
        return std::string(CORVANE_SCREENSHOT_DIR) + "/desktop-" + name + ".png";
    }

    // A fresh runtime and configuration folder for every start; the dark desktop is the
    // user's Qt theme (qt6ct) with its darker colour scheme.
    bool startCorvane(ChildProcess& corvane, const std::vector<std::string>& args,
                      const Variant& variant, const std::string& configText) {
        std::error_code ec;
        fs::remove_all(file("run"), ec);
        fs::remove_all(file("config"), ec);
        fs::create_directories(file("run"));
        ::chmod(file("run").c_str(), 0700);
        fs::create_directories(file("config/qt6ct"));
        writeFile(file("corvane.cfg"), configText);
        writeFile(file("config/qt6ct/qt6ct.conf"),
                  "[Appearance]\ncolor_scheme_path=/usr/share/qt6ct/colors/darker.conf\n"
                  "custom_palette=true\nstyle=Fusion\n"
                  // The light desktop's faces and sizes, so that the tool bar is laid out
                  // alike and the pointer finds the Send button's arrow at the same place.
                  "[Fonts]\ngeneral=\"DejaVu Sans,9,-1,5,400,0,0,0,0,0,0,0,0,0,0,1\"\n"
                  "fixed=\"DejaVu Sans Mono,9,-1,5,400,0,0,0,0,0,0,0,0,0,0,1\"\n");
        char scale[16];
        std::snprintf(scale, sizeof scale, "%.2f", variant.scale);
        std::vector<std::string> all{variant.language == "ja" ? "-JP" : "-US",
                                     "-CFG=" + file("corvane.cfg")};
        all.insert(all.end(), args.begin(), args.end());
        return corvane.start(CORVANE_PATH, all,
                             {"DISPLAY=" + m_session->display(), "QT_QPA_PLATFORM=xcb",
                              std::string("QT_QPA_PLATFORMTHEME=") + (variant.dark ? "qt6ct" : ""),
                              std::string("QT_SCALE_FACTOR=") + scale,
                              "XDG_RUNTIME_DIR=" + file("run"),
                              "XDG_CONFIG_HOME=" + file("config")});
    }

    // Asks status query `query` until it answers `answer`, each try waiting on the program's
    // output for a short slice.
    bool waitForStatus(ChildProcess& corvane, uint32_t query, int32_t answer, int timeoutMs) {
        const long long deadline = steadyNowMs() + timeoutMs;
        while (steadyNowMs() < deadline && !corvane.exited()) {
            if (linkRequest(socketPath(), StatusQuery, word(query)) == answer)
                return true;
            corvane.pump(50);
        }
        return false;
    }

    // A person's gesture that should start a send. On a loaded machine a menu may open after
    // the key meant for it has gone, so the gesture is tried again (menus closed first) before
    // the send counts as not started.
    bool startsASend(ChildProcess& corvane, const std::function<void()>& gesture) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            gesture();
            if (waitForStatus(corvane, 0, 0, 4000))
                return true;
            m_session->xdotool({"key", "Escape", "Escape", "Escape"});
        }
        return false;
    }

    // Interrupts what runs and closes the window through its socket, as another program would.
    void closeCorvane(ChildProcess& corvane) {
        linkRequest(socketPath(), StatusQuery, word(2));
        waitForStatus(corvane, 0, 1, 10000);
        linkRequest(socketPath(), Command, word(5001));
        EXPECT_EQ(corvane.wait(10000), 0) << corvane.err();
    }

    std::string m_dir;
    std::unique_ptr<DesktopSession> m_session;

    static constexpr const char* PlainConfig = "[CFG_Setting]\r\nOneInstance=1\r\nMcnFile=\r\n";
    // PART.NC was sent before: it heads the NC history.
    std::string historyConfig() const {
        return std::string(PlainConfig) + "[CFG_History]\r\nNcFile00=" + file("PART.NC") + "\r\n";
    }
};

TEST_F(Desktop, helpAndVersionAnswerOnTheTerminalWithoutAWindow) {
    for (const std::string option : {"--help", "--version"}) {
        ChildProcess corvane;
        ASSERT_TRUE(startCorvane(corvane, {option}, {"en", 1.0, false}, PlainConfig));
        ASSERT_EQ(corvane.wait(10000), 0) << option << " did not end: " << corvane.err();
        EXPECT_NE(corvane.out().find(option == "--help" ? "usage: corvane" : "corvane 1."),
                  std::string::npos)
            << corvane.out();
    }
}

// The pointer rests on every tool button (which makes Qt report the menu commands among them
// hovered), leaves, and then a send is handed over that the machine holds. The status bar
// must show the held line's state and count, and the log pane its rows one font line apart
// with the waiting line in a row of its own: in both languages, at 100 % and 150 %, on a
// light and a dark desktop. The screenshots are kept for review.
TEST_F(Desktop, heldSendShowsItsStatusPartsAndEvenRowsOnEveryDesktop) {
    const Variant variants[] = {
        {"en", 1.0, false}, {"ja", 1.0, false}, {"en", 1.5, false}, {"ja", 1.5, false},
        {"en", 1.0, true},  {"ja", 1.0, true},  {"en", 1.5, true},  {"ja", 1.5, true},
    };
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.name());
        SimProcess sim;
        ASSERT_TRUE(sim.start({"read", "--hold-after", "300", "--hold-ms", "30000", "--record",
                               file("machine.bin"), "--exit-after-ms", "40000"}))
            << sim.errors();
        writeFile(file("SIM.MDF"), isoMachine(sim.device()));
        ChildProcess corvane;
        ASSERT_TRUE(startCorvane(corvane, {"-MDF=" + file("SIM.MDF")}, variant, historyConfig()));
        const auto frame = m_session->waitForWindow(corvane.pid(), "Corvane", 15000);
        ASSERT_TRUE(frame) << corvane.err();
        ASSERT_TRUE(waitForStatus(corvane, 1, 1, 10000)) << corvane.err();

        // Across the tool bar (below the menu bar), pausing on each button, then away.
        const double s = variant.scale;
        std::vector<std::string> moves;
        for (int x = 10; x < 560; x += 25) {
            for (const std::string& part :
                 {std::string("mousemove"), std::string("--window"), *frame,
                  std::to_string(int(x * s)), std::to_string(int(52 * s)), std::string("sleep"),
                  std::string("0.03")})
                moves.push_back(part);
        }
        for (const std::string& part : {std::string("mousemove"), std::string("--window"), *frame,
                                        std::to_string(int(400 * s)), std::to_string(int(300 * s))})
            moves.push_back(part);
        ASSERT_TRUE(m_session->xdotool(moves, 10000));

        // The send from the history under the Send button's arrow, as a machinist repeats
        // the last program: the pointer passes over the Send button on its way.
        ASSERT_TRUE(startsASend(corvane, [&] {
            m_session->xdotool({"mousemove", "--window", *frame, std::to_string(int(54 * s)),
                                std::to_string(int(45 * s)), "click", "1", "sleep", "0.3", "key",
                                "1"});
        })) << "the send did not start";

        // The waiting line blinks: look until a screenshot shows it, with the parts painted.
        std::optional<Screenshot> shot;
        std::vector<TextBand> bands;
        StatusInk status;
        const long long deadline = steadyNowMs() + 12000;
        bool complete = false;
        while (!complete && steadyNowMs() < deadline) {
            shot = m_session->capture(*frame, file("shot.ppm"));
            ASSERT_TRUE(shot);
            bands = logBands(*shot);
            status = statusInk(*shot, s);
            complete = status.pixels >= 12 && !bands.empty() && bands.back().waiting() &&
                       readFile(file("machine.bin")).size() >= 300;
        }
        m_session->savePng(*frame, shotPath(variant.name()));
        EXPECT_GE(status.pixels, 12) << "status parts not painted while the line is held";
        // Readable on either desktop: the texts differ from the bar in lightness, not only in
        // hue; and the dark desktop really is dark.
        EXPECT_GE(status.contrast, 50) << "status texts hardly lighter or darker than the bar";
        EXPECT_EQ(status.background < 128, variant.dark) << "bar lightness " << status.background;
        ASSERT_TRUE(!bands.empty() && bands.back().waiting()) << "no waiting line seen";

        // The data rows: one pitch throughout; the code lines at the same pitch, each about
        // as high as a full line of text, so the rows are not spaced wider than the font.
        std::vector<TextBand> rows;
        std::vector<TextBand> codes;
        for (const TextBand& band : bands) {
            if (band.ink == Ink::Data)
                rows.push_back(band);
            else if (band.ink == Ink::Code)
                codes.push_back(band);
        }
        ASSERT_GE(rows.size(), 6u);
        ASSERT_GE(codes.size(), 3u);
        const TextBand* const last = &rows.back();
        const int pitch = rows.back().top - rows[rows.size() - 2].top;
        for (size_t i = rows.size() - 5; i < rows.size(); ++i)
            EXPECT_NEAR(rows[i].top - rows[i - 1].top, pitch, 1) << "uneven rows";
        int lineInk = 0;
        for (size_t i = 1; i < codes.size(); ++i) {
            EXPECT_NEAR(codes[i].top - codes[i - 1].top, pitch, 2) << "code lines at another pitch";
            lineInk = std::max(lineInk, codes[i].bottom - codes[i].top + 1);
        }
        EXPECT_LE(pitch * 10, lineInk * 16)
            << "rows " << pitch << " px apart for lines " << lineInk << " px high";
        // The waiting line sits in the next row: clear of the last one, inside its own band.
        const TextBand& waiting = bands.back();
        EXPECT_GT(waiting.top, last->bottom + 1) << "waiting line against the last row";
        EXPECT_LE(waiting.bottom, last->top + 2 * pitch) << "waiting line beyond its row";
        EXPECT_NEAR(waiting.top - last->top, pitch, std::max(2.0, 3 * s))
            << "waiting line not one row below the last";

        closeCorvane(corvane);
        sim.kill();
    }
}

// The histories of the tool-bar arrows from the keyboard: File, Recent NC files, the first
// entry. The send it starts is seen through the window's status query.
TEST_F(Desktop, ncHistoryIsReachableFromTheKeyboard) {
    SimProcess sim;
    ASSERT_TRUE(sim.start(
        {"read", "--hold-after", "100", "--hold-ms", "30000", "--exit-after-ms", "40000"}))
        << sim.errors();
    writeFile(file("SIM.MDF"), isoMachine(sim.device()));
    ChildProcess corvane;
    ASSERT_TRUE(
        startCorvane(corvane, {"-MDF=" + file("SIM.MDF")}, {"en", 1.0, false}, historyConfig()));
    const auto frame = m_session->waitForWindow(corvane.pid(), "Corvane", 15000);
    ASSERT_TRUE(frame) << corvane.err();
    ASSERT_TRUE(waitForStatus(corvane, 1, 1, 10000));
    ASSERT_TRUE(m_session->xdotool({"windowactivate", "--sync", *frame}));
    EXPECT_TRUE(startsASend(corvane, [&] {
        m_session->xdotool({"key", "--delay", "150", "alt+f", "n", "1"});
    })) << "the history entry did not start a send";
    closeCorvane(corvane);
}

// A file opened from a file manager ("corvane -ASK %F") is not sent before the user agreed:
// No opens the window idle and sends nothing; Yes sends.
TEST_F(Desktop, sendFromAFileManagerAsksFirst) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--hold-after", "100", "--hold-ms", "30000", "--record",
                           file("machine.bin"), "--exit-after-ms", "40000"}))
        << sim.errors();
    writeFile(file("SIM.MDF"), isoMachine(sim.device()));
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        ChildProcess corvane;
        ASSERT_TRUE(startCorvane(corvane, {"-MDF=" + file("SIM.MDF"), "-ASK", file("PART.NC")},
                                 {"en", 1.0, false}, PlainConfig));
        const auto question = m_session->waitForWindow(corvane.pid(), "Corvane", 15000);
        ASSERT_TRUE(question) << corvane.err();
        // No frame and no send yet: the question comes before anything else.
        EXPECT_FALSE(linkRequest(socketPath(), StatusQuery, word(1)).has_value());
        EXPECT_TRUE(readFile(file("machine.bin")).empty());
        if (!yes)
            m_session->savePng(*question, shotPath("en-ask-before-send"));
        ASSERT_TRUE(m_session->xdotool({"windowactivate", "--sync", *question}));
        ASSERT_TRUE(m_session->xdotool({"key", yes ? "alt+y" : "Escape"}));
        ASSERT_TRUE(waitForStatus(corvane, 1, 1, 15000)) << corvane.err();
        if (yes) {
            EXPECT_TRUE(waitForStatus(corvane, 0, 0, 10000)) << "Yes did not send";
        } else {
            EXPECT_EQ(linkRequest(socketPath(), StatusQuery, word(0)), 1);
            EXPECT_TRUE(readFile(file("machine.bin")).empty());
        }
        closeCorvane(corvane);
    }
}

} // namespace
} // namespace corvane::testing
