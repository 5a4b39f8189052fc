// The window program driven by other programs, as a caller would drive it: an unattended
// send with "EXIT" that notifies the caller's socket, a second start handing its file to the
// running instance, raw requests on the instance's socket, and a start-up past a socket file
// left by a crashed run. The machine is cnc-sim on a pseudo-terminal.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"
#include "support/SimProcess.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

Bytes word(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

uint32_t wordAt(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

bool bindUnix(int fd, const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// The window program as a child process, offscreen, in English, with its runtime and
// configuration folders in the test's own folder.
class CorvaneProcess : public ChildProcess {
public:
    bool start(const std::vector<std::string>& args, const std::string& runtimeDir,
               const std::string& configHome) {
        return ChildProcess::start(CORVANE_PATH, args,
                                   {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtimeDir,
                                    "XDG_CONFIG_HOME=" + configHome});
    }
};

// The caller's side of "NOTIFY=": a socket that takes any number of connections and keeps
// the notices in the order they came.
class NotifyListener {
public:
    explicit NotifyListener(const std::string& path) {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        m_ok = m_fd >= 0 && bindUnix(m_fd, path) && ::listen(m_fd, 8) == 0;
    }
    ~NotifyListener() {
        for (int fd : m_peers)
            ::close(fd);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_ok; }

    void pump(int sliceMs) {
        std::vector<pollfd> fds{{m_fd, POLLIN, 0}};
        for (int fd : m_peers)
            fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), sliceMs) <= 0)
            return;
        if (fds[0].revents & POLLIN) {
            const int peer = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer >= 0) {
                m_peers.push_back(peer);
                m_buffers.emplace_back();
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            uint8_t buffer[512];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            Bytes& pending = m_buffers[i - 1];
            pending.insert(pending.end(), buffer, buffer + n);
            while (pending.size() >= 12) {
                m_notices.push_back({wordAt(pending.data()), wordAt(pending.data() + 4),
                                     wordAt(pending.data() + 8)});
                pending.erase(pending.begin(), pending.begin() + 12);
            }
        }
    }

    struct Notice {
        uint32_t message;
        uint32_t wParam;
        uint32_t lParam;
    };
    const std::vector<Notice>& notices() const { return m_notices; }

private:
    int m_fd = -1;
    bool m_ok = false;
    std::vector<int> m_peers;
    std::vector<Bytes> m_buffers;
    std::vector<Notice> m_notices;
};

// A program talking to the running instance over its socket, one request at a time.
class LinkClient {
public:
    ~LinkClient() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool connectTo(const std::string& path) {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        return ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    // The answer, or nothing when none came within `timeoutMs`.
    std::optional<int32_t> request(uint32_t kind, const Bytes& body, int timeoutMs = 5000) {
        Bytes frame = word(kind);
        const Bytes size = word(uint32_t(body.size()));
        frame.insert(frame.end(), size.begin(), size.end());
        frame.insert(frame.end(), body.begin(), body.end());
        if (::send(m_fd, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size()))
            return std::nullopt;
        uint8_t answer[4];
        size_t got = 0;
        const long long deadline = steadyNowMs() + timeoutMs;
        while (got < 4) {
            pollfd p{m_fd, POLLIN, 0};
            if (steadyNowMs() >= deadline || ::poll(&p, 1, 20) < 0)
                return std::nullopt;
            if (!(p.revents & (POLLIN | POLLHUP)))
                continue;
            const ssize_t n = ::read(m_fd, answer + got, 4 - got);
            if (n <= 0)
                return std::nullopt;
            got += size_t(n);
        }
        return int32_t(wordAt(answer));
    }

private:
    int m_fd = -1;
};

// The record as a program lays it out: flags, window, machine path at 8, file path at 268.
Bytes record(uint32_t flags, const std::string& machine, const std::string& file,
             size_t size = 528) {
    Bytes bytes(size, 0);
    const Bytes head = word(flags);
    std::copy(head.begin(), head.end(), bytes.begin());
    std::copy(machine.begin(), machine.end(), bytes.begin() + 8);
    std::copy(file.begin(), file.end(), bytes.begin() + 268);
    return bytes;
}

// ISO with Xon/Xoff, waiting for the machine's DC1; 5 nulls before and 3 after the data, a
// line feed first, CR LF line ends, comments removed; the port is the simulator's device.
std::string isoMachine(const std::string& device) {
    return "[MCN_RS232C]\n"
           "BaudRate=7\nDataLen=0\nParity=2\nStop=1\nHandShake=1\nOutCode=0\n"
           "PtrStart=17\nPtrStop=19\nPtpStart=18\nPtpStop=20\nPortName=" +
           device +
           "\n"
           "[MCN_Config]\n"
           "OutofFile=0\nXoff=1\nErCode=3\nLfCode=1\nComment=0\nHeadLf=1\n"
           "PtpNull=5;3;0\nPtpSpace=0;0;0\nSendDelay=0\n";
}

const char* const ProgramA = "O0001(FIRST)\nG00X0Y0\nM30\n";
const char* const ProgramB = "O0002\nG01X1.5F100.\nM30\n";

class LinkIntegration : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "cvn-link-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        fs::create_directory(m_dir + "/run");
        fs::create_directory(m_dir + "/config");
        ::chmod((m_dir + "/run").c_str(), 0700);
        writeFile(file("A.NC"), ProgramA);
        writeFile(file("B.NC"), ProgramB);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string file(const std::string& name) const { return m_dir + "/" + name; }
    std::string runtimeDir() const { return m_dir + "/run"; }
    std::string linkFolder() const { return m_dir + "/run/corvane"; }
    std::string serverPath() const { return linkFolder() + "/CVN_FrameClass"; }

    bool start(CorvaneProcess& corvane, const std::vector<std::string>& args) {
        return corvane.start(args, runtimeDir(), m_dir + "/config");
    }

    // Waits until the running instance answers status query 1.
    bool waitForInstance(CorvaneProcess& corvane, int timeoutMs) {
        const long long deadline = steadyNowMs() + timeoutMs;
        while (steadyNowMs() < deadline && !corvane.exited()) {
            LinkClient client;
            if (client.connectTo(serverPath()) && client.request(0x05FE, word(1), 2000) == 1)
                return true;
            corvane.pump(20);
        }
        return false;
    }

    // Sends status query 0 until it gives `answer` (1 idle, 0 running).
    bool waitForIdle(CorvaneProcess& corvane, int answer, int timeoutMs) {
        const long long deadline = steadyNowMs() + timeoutMs;
        while (steadyNowMs() < deadline && !corvane.exited()) {
            LinkClient client;
            if (client.connectTo(serverPath()) && client.request(0x05FE, word(0), 2000) == answer)
                return true;
            corvane.pump(20);
        }
        return false;
    }

    std::string m_dir;
};

// What the machine receives for one file: DC2, five nulls, %, a line feed first, the blocks
// with CR LF, %, three nulls, DC4.
std::string expectedStream(std::initializer_list<const char*> blocks) {
    std::string stream("\x12\0\0\0\0\0%\r\n", 9);
    for (const char* block : blocks)
        stream += std::string(block) + "\r\n";
    return stream + std::string("%\0\0\0\x14", 5);
}

TEST_F(LinkIntegration, unattendedSendWithExitNotifiesTheCallerAndSavesNothing) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--record", file("machine.bin"), "--exit-after-ms", "25000"}))
        << sim.errors();
    writeFile(file("SIM.MDF"), isoMachine(sim.device()));
    const std::string config = "[CFG_Setting]\r\nOneInstance=1\r\nMcnFile=\r\n";
    writeFile(file("corvane.cfg"), config);
    const std::string machineBefore = readFile(file("SIM.MDF"));

    ASSERT_EQ(::mkdir(linkFolder().c_str(), 0700), 0);
    NotifyListener listener(linkFolder() + "/corvane-notify-00c0ffee");
    ASSERT_TRUE(listener.ok());

    CorvaneProcess corvane;
    ASSERT_TRUE(start(corvane, {"-US", "-CFG=" + file("corvane.cfg"), "-MDF=" + file("SIM.MDF"),
                                "-NOTIFY=c0ffee", file("A.NC"), file("B.NC"), "-EXIT"}));
    const long long deadline = steadyNowMs() + 25000;
    while (!corvane.exited() && steadyNowMs() < deadline) {
        listener.pump(10);
        corvane.pump(10);
    }
    ASSERT_EQ(corvane.wait(1000), 0) << corvane.err() << readFile(file("machine.bin"));
    for (int i = 0; i < 5; ++i)
        listener.pump(10);
    ASSERT_TRUE(sim.wait(5000).has_value()) << sim.errors();

    // Both files in one framing, the comment taken out.
    std::string expected("\x12\0\0\0\0\0%\r\n", 9);
    expected += "O0001\r\nG00X0Y0\r\nM30\r\nO0002\r\nG01X1.5F100.\r\nM30\r\n";
    expected += std::string("%\0\0\0\x14", 5);
    EXPECT_EQ(readFile(file("machine.bin")), expected);

    const auto& notices = listener.notices();
    ASSERT_GE(notices.size(), 4u);
    for (const auto& n : notices)
        EXPECT_EQ(n.message, 0x5FEu);
    const uint32_t total = uint32_t(std::strlen(ProgramA) + std::strlen(ProgramB));
    EXPECT_EQ(notices.front().wParam, 10u);
    EXPECT_EQ(notices.front().lParam, total);
    uint32_t last = 0;
    for (size_t i = 1; i + 2 < notices.size(); ++i) {
        EXPECT_EQ(notices[i].wParam, 11u) << i;
        EXPECT_GE(notices[i].lParam, last) << i;
        last = notices[i].lParam;
    }
    EXPECT_GT(notices.size(), 4u) << "no progress notice";
    EXPECT_EQ(notices[notices.size() - 2].wParam, 12u);
    EXPECT_EQ(notices.back().wParam, 1u);

    // Nothing written back: neither the configuration nor the machine.
    EXPECT_EQ(readFile(file("corvane.cfg")), config);
    EXPECT_EQ(readFile(file("SIM.MDF")), machineBefore);
    EXPECT_FALSE(fs::exists(m_dir + "/config/corvane/corvane.cfg"));
    // The instance's socket went with it.
    EXPECT_FALSE(fs::exists(serverPath()));
}

TEST_F(LinkIntegration, secondStartHandsItsFilesOverAndRequestsFollowTheRules) {
    SimProcess sim;
    // The machine takes its time before it lets the send start, so the requests below meet a
    // running transfer.
    ASSERT_TRUE(sim.start(
        {"read", "--record", file("machine.bin"), "--wait-ms", "2500", "--exit-after-ms", "25000"}))
        << sim.errors();
    writeFile(file("SIM.MDF"), isoMachine(sim.device()));
    writeFile(file("corvane.cfg"), "[CFG_Setting]\r\nOneInstance=1\r\n");

    CorvaneProcess first;
    ASSERT_TRUE(start(first, {"-US", "-CFG=" + file("corvane.cfg"), "-MDF=" + file("SIM.MDF")}));
    ASSERT_TRUE(waitForInstance(first, 15000)) << first.err();
    const std::string configBefore = readFile(file("corvane.cfg"));

    CorvaneProcess second;
    ASSERT_TRUE(start(second, {"-US", "-CFG=" + file("corvane.cfg"), file("A.NC"), file("B.NC")}));
    ASSERT_EQ(second.wait(10000), 0) << second.err();
    EXPECT_EQ(second.err().find("corvane:"), std::string::npos) << second.err();
    EXPECT_EQ(readFile(file("corvane.cfg")), configBefore) << "the second start saved";

    // The handed-over files are being sent: busy now.
    ASSERT_TRUE(waitForIdle(first, 0, 10000)) << first.err();
    {
        LinkClient client;
        ASSERT_TRUE(client.connectTo(serverPath()));
        EXPECT_EQ(client.request(0xC0000002, record(2, "", file("B.NC"))), 0);
        const std::string path = file("B.NC");
        Bytes shortForm(path.begin(), path.end());
        shortForm.push_back(0);
        EXPECT_EQ(client.request(0xC0000001, shortForm), 0);
        EXPECT_EQ(client.request(0x05FE, word(0)), 0);
        EXPECT_EQ(client.request(0x05FE, word(1)), 1);
    }
    ASSERT_TRUE(sim.wait(20000).has_value()) << sim.errors();
    ASSERT_TRUE(waitForIdle(first, 1, 10000)) << first.err();
    // Every named file, as one send list, and nothing of the refused ones.
    EXPECT_EQ(readFile(file("machine.bin")),
              expectedStream({"O0001", "G00X0Y0", "M30", "O0002", "G01X1.5F100.", "M30"}));

    {
        LinkClient client;
        ASSERT_TRUE(client.connectTo(serverPath()));
        const std::string path = file("B.NC");
        Bytes unterminated = record(2, "", "");
        std::fill(unterminated.begin() + 268, unterminated.end(), uint8_t('x'));
        EXPECT_EQ(client.request(0xC0000002, record(2, "", path, 527)), 0);
        EXPECT_EQ(client.request(0xC0000002, record(0, "", "")), 0);
        EXPECT_EQ(client.request(0xC0000002, unterminated), 0);
        EXPECT_EQ(client.request(0xC0000003, word(0)), 0);
        EXPECT_EQ(client.request(0x0111, word(3000)), 0);
        EXPECT_EQ(client.request(0x05FE, word(9)), 0);
        EXPECT_EQ(client.request(0x05FE, word(0)), 1) << "a refused request started something";
        EXPECT_EQ(client.request(0x0111, word(5001)), 1);
    }
    EXPECT_EQ(first.wait(10000), 0) << first.err();
    EXPECT_FALSE(fs::exists(serverPath()));
}

TEST_F(LinkIntegration, aSocketFileLeftByACrashedRunDoesNotStopStartUp) {
    ASSERT_EQ(::mkdir(linkFolder().c_str(), 0700), 0);
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_TRUE(bindUnix(fd, serverPath()));
        ::close(fd); // the file stays, nobody listens
    }
    writeFile(file("corvane.cfg"), "[CFG_Setting]\r\nOneInstance=1\r\n");
    CorvaneProcess corvane;
    ASSERT_TRUE(start(corvane, {"-US", "-CFG=" + file("corvane.cfg")}));
    ASSERT_TRUE(waitForInstance(corvane, 15000)) << corvane.err();
    LinkClient client;
    ASSERT_TRUE(client.connectTo(serverPath()));
    EXPECT_EQ(client.request(0x0111, word(5001)), 1);
    EXPECT_EQ(corvane.wait(10000), 0) << corvane.err();
}

// A folder other users can enter is not used: the program runs without the link and says so.
TEST_F(LinkIntegration, aFolderOpenToOthersIsNotUsed) {
    ASSERT_EQ(::mkdir(linkFolder().c_str(), 0700), 0);
    ASSERT_EQ(::chmod(linkFolder().c_str(), 0755), 0);
    writeFile(file("corvane.cfg"), "[CFG_Setting]\r\nOneInstance=1\r\n");
    CorvaneProcess corvane;
    ASSERT_TRUE(start(corvane, {"-US", "-CFG=" + file("corvane.cfg")}));
    const long long deadline = steadyNowMs() + 15000;
    while (corvane.err().find("instance link not used") == std::string::npos && !corvane.exited() &&
           steadyNowMs() < deadline)
        corvane.pump(20);
    EXPECT_NE(corvane.err().find("open to other users"), std::string::npos) << corvane.err();
    EXPECT_FALSE(corvane.exited());
    EXPECT_FALSE(fs::exists(serverPath()));
}

} // namespace
} // namespace corvane::testing
