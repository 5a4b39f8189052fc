// corvane-cli's settings verbs, run as a user runs them: exit status, output, files left.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "corvane-cli-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs corvane-cli with a private HOME, so the default configuration is never the user's.
CliRun run(const TempFolder& home, const std::string& arguments) {
    const std::string errPath = home.file("stderr.txt");
    const std::string command = "HOME='" + home.file("") + "' XDG_CONFIG_HOME= '" CORVANE_CLI "' " +
                                arguments + " 2>'" + errPath + "'";
    CliRun result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.out.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = readFile(errPath);
    return result;
}

std::vector<std::string> keyNames(const std::string& text) {
    std::vector<std::string> names;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            names.push_back(line[0] == '[' ? line : line.substr(0, line.find('=')));
        }
    }
    return names;
}

TEST(CliSettings, machineShowPrintsTheFileFormatInOrder) {
    TempFolder folder;
    const std::string mdf = folder.file("LATHE.MDF");
    writeFile(mdf,
              "[MCN_Config]\r\nDefExt=*.NC\r\nPtpNull=5,0,2\r\n[MCN_RS232C]\r\nBaudRate=7\r\n");
    const CliRun r = run(folder, "machine show '" + mdf + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> expected = {
        "[MCN_Info]",     "Version",      "[MCN_RS232C]", "PortNo",       "BaudRate",
        "DataLen",        "Parity",       "Stop",         "HandShake",    "OutCode",
        "PtrStart",       "PtrStop",      "PtpStart",     "PtpStop",      "PortName",
        "[MCN_Config]",   "OutofFile",    "SendSpace",    "RecvSpace",    "Xoff",
        "ErCode",         "TVCheck",      "LfCode",       "Comment",      "HeadLf",
        "NnoBase",        "NnoIncr",      "PtpNull",      "PtpSpace",     "PtrBegin",
        "PtrEof",         "DeleteErCode", "SendDelay",    "PtrTimeOut",   "PtrUser0",
        "PtrUser1",       "PtpUser0",     "PtpUser1",     "PtpUser2",     "DefDir",
        "DefExt",         "WordBreak",    "SendSkipCode", "SendSkipLine", "ReceiveSkipCode",
        "ReceiveSkipLine"};
    EXPECT_EQ(keyNames(r.out), expected) << r.out;
    EXPECT_NE(r.out.find("Version=180\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("BaudRate=7\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Parity=2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("PtpNull=5;0;2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("DefExt=NC\n"), std::string::npos) << r.out;
    // Showing never writes.
    EXPECT_NE(readFile(mdf).find("DefExt=*.NC"), std::string::npos);
}

TEST(CliSettings, machineNewRefusesBadKeysAndValuesAndWritesNothing) {
    TempFolder folder;
    const std::string mdf = folder.file("NEW.MDF");
    const std::string refused[] = {
        "BaudRate=8",  "Parity=-1",         "PtrStart=256",
        "PtpNull=1,2", "PtpSpace=1,2,1001", "NnoBase=10000001",
        "BaudRate=5x", "Speed=9600",        "PortNo",
        "HandShake=",  "SendDelay=0x3E9",   "PtpUser0=" + std::string(256, 'a'),
    };
    for (const std::string& assignment : refused) {
        const CliRun r = run(folder, "machine new '" + mdf + "' PortNo=2 '" + assignment + "'");
        EXPECT_EQ(r.status, 2) << assignment;
        EXPECT_FALSE(r.err.empty()) << assignment;
        EXPECT_FALSE(fs::exists(mdf)) << assignment;
    }
}

TEST(CliSettings, machineNewWritesDefaultsWithTheGivenKeys) {
    TempFolder folder;
    const std::string mdf = folder.file("NEW.MDF");
    const CliRun made = run(folder, "machine new '" + mdf +
                                        "' baudrate=7 PtrStart=0x91 'PtpSpace=1,2,1000' "
                                        "'PortName=/dev/ttyUSB0' 'PtpUser0=" +
                                        std::string(255, 'a') + "'");
    ASSERT_EQ(made.status, 0) << made.err;
    const CliRun shown = run(folder, "machine show '" + mdf + "'");
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out, readFile(mdf));
    for (const char* line : {"BaudRate=7\n", "PtrStart=145\n", "PtpSpace=1;2;1000\n",
                             "PortName=/dev/ttyUSB0\n", "HandShake=7\n", "LfCode=1\n"}) {
        EXPECT_NE(shown.out.find(line), std::string::npos) << line << shown.out;
    }
}

TEST(CliSettings, namedFilesThatDoNotExistEndWithStatus3) {
    TempFolder folder;
    EXPECT_EQ(run(folder, "machine show '" + folder.file("NONE.MDF") + "'").status, 3);
    EXPECT_EQ(run(folder, "config show '" + folder.file("none.cfg") + "'").status, 3);
    EXPECT_EQ(run(folder, "--cfg '" + folder.file("none.cfg") + "' machine show").status, 3);
    EXPECT_EQ(run(folder, "machine new '" + folder.file("no/folder/X.MDF") + "'").status, 3);
}

// A file that is no machine definition is refused with its reason, never sent with
// defaults in its place: by the transfer verbs as by machine show.
TEST(CliSettings, aFileThatIsNoMachineDefinitionIsRefused) {
    TempFolder folder;
    std::string noise;
    for (int i = 0; i < 400; ++i)
        noise += static_cast<char>((i * 97 + 3) % 256);
    writeFile(folder.file("RANDOM.MDF"), noise);
    writeFile(folder.file("A.NC"), "G01X1\n");
    const CliRun shown = run(folder, "machine show '" + folder.file("RANDOM.MDF") + "'");
    EXPECT_EQ(shown.status, 3);
    EXPECT_NE(shown.err.find("not a machine definition"), std::string::npos) << shown.err;
    const CliRun sent = run(folder, "send -m '" + folder.file("RANDOM.MDF") + "' -o '" +
                                        folder.file("OUT.TAP") + "' '" + folder.file("A.NC") + "'");
    EXPECT_EQ(sent.status, 3);
    EXPECT_NE(sent.err.find("not a machine definition"), std::string::npos) << sent.err;
    EXPECT_FALSE(fs::exists(folder.file("OUT.TAP")));
}

TEST(CliSettings, usageErrorsEndWithStatus2) {
    TempFolder folder;
    EXPECT_EQ(run(folder, "").status, 2);
    EXPECT_EQ(run(folder, "fly").status, 2);
    EXPECT_EQ(run(folder, "machine").status, 2);
    EXPECT_EQ(run(folder, "machine show a b").status, 2);
    EXPECT_EQ(run(folder, "machine new").status, 2);
    EXPECT_EQ(run(folder, "config show --cfg").status, 2);
    const CliRun help = run(folder, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("machine new"), std::string::npos) << help.out;
}

TEST(CliSettings, machineShowWithoutFileShowsTheConfigurationsMachine) {
    TempFolder folder;
    const std::string mdf = folder.file("MILL.MDF");
    const std::string cfg = folder.file("shop.cfg");
    writeFile(mdf, "[MCN_RS232C]\nBaudRate=2\n");
    writeFile(cfg, "[CFG_Info]\nVersion=320\n[CFG_Setting]\nMcnFile=" + mdf +
                       "\n[MCN_RS232C]\nBaudRate=4\nParity=1\n");
    const CliRun r = run(folder, "machine show --cfg '" + cfg + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("BaudRate=2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Parity=1\n"), std::string::npos) << r.out;

    // No configuration anywhere: the defaults.
    const CliRun plain = run(folder, "machine show");
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(plain.out.find("BaudRate=5\n"), std::string::npos) << plain.out;
    EXPECT_FALSE(fs::exists(folder.file(".config/corvane/corvane.cfg")));
}

TEST(CliSettings, configShowAppliesTheImportAndNeverWrites) {
    TempFolder folder;
    const std::string cfg = folder.file("old.cfg");
    const std::string old = "[SYS_CONFIG]\nPortNo=5\nWindowPos=10,10,20,20\n";
    writeFile(cfg, old);
    const CliRun r = run(folder, "config show '" + cfg + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"Version=320\n", "rgbBKColor=8388608\n", "rgbFGColor=12632256\n",
                             "BkShading=1\n", "WindowPos=10;10;20;20\n", "OutofFile=1\n",
                             "[CFG_History]\n", "McnFile15=\n", "Item15=0\n"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
    }
    EXPECT_EQ(readFile(cfg), old);
}

} // namespace
