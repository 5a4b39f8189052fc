// Files dropped on the window: links followed, machine files loaded, NC files queued.

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../support/TempDir.h"
#include "app/DroppedFiles.h"
#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "transfer/TransferState.h"

using namespace corvane;
using corvane::test::TempDir;
using corvane::test::writeFile;
namespace fs = std::filesystem;

namespace {

class DroppedFilesTest : public ::testing::Test {
protected:
    TempDir dir;
    AppConfig config;
    MachineDef machine;
    SendQueue queue;

    void SetUp() override { MachineDefSetDefaults(machine.line, machine.config); }

    std::string nc(const std::string& name, const std::string& text = "%\nO1000\nM30\n%\n") {
        const std::string path = dir.file(name);
        writeFile(path, text);
        return path;
    }

    // A machine file that differs from the defaults where the test can see it.
    std::string mdf(const std::string& name, int32_t baudRate) {
        MachineDef written;
        MachineDefSetDefaults(written.line, written.config);
        written.line.BaudRate = baudRate;
        const std::string path = dir.file(name);
        EXPECT_EQ(MachineDefWrite(path.c_str(), written.line, written.config), 1);
        return path;
    }

    std::string link(const std::string& name, const std::string& target) {
        const std::string path = dir.file(name);
        fs::create_symlink(target, path);
        return path;
    }

    std::string desktopLink(const std::string& name, const std::string& body) {
        const std::string path = dir.file(name);
        writeFile(path, body);
        return path;
    }

    std::vector<std::string> queued() const {
        std::vector<std::string> names;
        for (int i = 0; i < queue.Count; ++i)
            names.push_back(queue.Entries[i].Name);
        return names;
    }
};

TEST_F(DroppedFilesTest, linksResolveToTheirTargetsAndUnreadableLinksToNothing) {
    const std::string part = nc("O1001 flange.nc");
    const std::string real = fs::canonical(part).string();
    const std::string folder = fs::canonical(dir.path()).string();
    link("part-link", part);
    link("link-to-link", dir.file("part-link"));
    link("broken", dir.file("gone.nc"));

    struct Case {
        const char* what;
        std::string name;
        std::optional<std::string> expected;
    } cases[] = {
        {"a plain file stays as it is", part, part},
        {"a symbolic link becomes its target", dir.file("part-link"), real},
        {"a chain of links ends at the file", dir.file("link-to-link"), real},
        {"a broken link is skipped", dir.file("broken"), std::nullopt},
        {"a desktop link with an escaped file URL",
         desktopLink("a.desktop", "[Desktop Entry]\nType=Link\nName=Flange\nURL=file://" + folder +
                                      "/O1001%20flange.nc\n"),
         folder + "/O1001 flange.nc"},
        {"a desktop link with a plain path and a localhost URL key later",
         desktopLink("b.DESKTOP", "# made by hand\n[Desktop Entry]\nURL = " + part +
                                      "\nType = Link\nURL=file:///elsewhere\n"),
         part},
        {"a desktop link on localhost",
         desktopLink("c.desktop", "[Desktop Entry]\nType=Link\nURL=file://localhost" + folder +
                                      "/O1001%20flange.nc\n"),
         folder + "/O1001 flange.nc"},
        {"a program launcher is no link to a file",
         desktopLink("d.desktop", "[Desktop Entry]\nType=Application\nExec=xterm\n"), std::nullopt},
        {"a web link names no file",
         desktopLink("e.desktop", "[Desktop Entry]\nType=Link\nURL=https://example.org/x.nc\n"),
         std::nullopt},
        {"a file on another host is not ours",
         desktopLink("f.desktop", "[Desktop Entry]\nType=Link\nURL=file://server/x.nc\n"),
         std::nullopt},
        {"keys of another group do not count",
         desktopLink("g.desktop", "[Desktop Action x]\nType=Link\nURL=" + part +
                                      "\n[Desktop Entry]\nType=Link\n"),
         std::nullopt},
        {"a Windows shortcut cannot be read here", nc("part.LNK", "L\x01\x14\x02"), std::nullopt},
        {"an empty name", "", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveDroppedName(c.name), c.expected) << c.what;
}

TEST_F(DroppedFilesTest, oneMachineFileAndTwoNcFilesLoadTheMachineAndQueueBothInOrder) {
    const std::string first = nc("O2000.nc", "%\nO2000\n%\n");
    const std::string machineFile = mdf("LATHE.MDF", 3);
    const std::string second = nc("O1000.nc", "%\nO1000\nG00X0\nM30\n%\n");
    queue.Count = 5; // left over from an earlier send

    const DropResult result =
        TakeDroppedFiles({first, machineFile, second}, config, machine, queue);

    EXPECT_EQ(result.queued, 2);
    EXPECT_EQ(result.machinesLoaded, 1);
    EXPECT_EQ(machine.line.BaudRate, 3);
    EXPECT_EQ(std::string(config.McnFile), machineFile);
    EXPECT_EQ(std::string(config.McnFileHistory[0]), machineFile);
    EXPECT_EQ(queued(), (std::vector<std::string>{first, second}));
    EXPECT_EQ(queue.Entries[0].Size, 10u);
    EXPECT_EQ(queue.Entries[1].Size, 20u);
    EXPECT_EQ(HistoryCount(config, 0), 0) << "the NC history is the send's business";
}

TEST_F(DroppedFilesTest, aMachineFileAloneLoadsAndQueuesNothing) {
    const std::string machineFile = mdf("mill.mdf", 2);
    UpdateHistory(config, 1, 0, "/old/OTHER.MDF");

    const DropResult result = TakeDroppedFiles({machineFile}, config, machine, queue);

    EXPECT_EQ(result.queued, 0);
    EXPECT_EQ(queue.Count, 0);
    EXPECT_EQ(machine.line.BaudRate, 2);
    EXPECT_EQ(HistoryCount(config, 1), 2);
    EXPECT_EQ(std::string(config.McnFileHistory[0]), machineFile);
}

TEST_F(DroppedFilesTest, aLinkToAMachineFileLoadsTheMachineUnderItsRealName) {
    const std::string machineFile = mdf("MILL.MDF", 1);
    const std::string viaLink = link("my machine", machineFile);
    const std::string viaDesktop =
        desktopLink("mill.desktop", "[Desktop Entry]\nType=Link\nURL=file://" + viaLink + "\n");

    for (const std::string& dropped : {viaLink, viaDesktop}) {
        config = AppConfig{};
        MachineDefSetDefaults(machine.line, machine.config);
        const DropResult result = TakeDroppedFiles({dropped}, config, machine, queue);
        EXPECT_EQ(result.machinesLoaded, 1) << dropped;
        EXPECT_EQ(result.queued, 0) << dropped;
        EXPECT_EQ(machine.line.BaudRate, 1) << dropped;
        EXPECT_EQ(std::string(config.McnFile), fs::canonical(machineFile).string()) << dropped;
    }
}

TEST_F(DroppedFilesTest, whatCannotBeSentOrLoadedChangesNothing) {
    const std::string part = nc("O3000.nc");
    fs::create_directory(dir.file("programs"));
    // A path one byte too long for a queue entry, on a file that exists.
    std::string deep = dir.path();
    while (deep.size() < 190) {
        deep += "/" + std::string(60, 'd');
        fs::create_directory(deep);
    }
    const std::string tooLong = deep + "/" + std::string(259 - deep.size(), 'x');
    writeFile(tooLong, "%\n");
    ASSERT_EQ(tooLong.size(), 260u);
    std::strcpy(config.McnFile, "/shop/CURRENT.MDF");
    machine.line.BaudRate = 6;

    const DropResult result =
        TakeDroppedFiles({dir.file("missing.nc"), dir.file("programs"), dir.file("missing.MDF"),
                          tooLong, dir.file("gone-link.lnk"), part},
                         config, machine, queue);

    EXPECT_EQ(result.machinesLoaded, 0);
    EXPECT_EQ(machine.line.BaudRate, 6);
    EXPECT_EQ(std::string(config.McnFile), "/shop/CURRENT.MDF");
    EXPECT_EQ(HistoryCount(config, 1), 0);
    EXPECT_EQ(queued(), std::vector<std::string>{part});
}

TEST_F(DroppedFilesTest, theQueueTakesThirtyTwoFilesAndIgnoresEverythingAfter) {
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i)
        names.push_back(nc("O" + std::to_string(1000 + i) + ".nc"));
    names.insert(names.begin() + 35, mdf("LATE.MDF", 4));

    const DropResult result = TakeDroppedFiles(names, config, machine, queue);

    EXPECT_EQ(result.queued, 32);
    EXPECT_EQ(std::string(queue.Entries[31].Name), names[31]);
    EXPECT_EQ(result.machinesLoaded, 0) << "names past the 32nd file are not looked at";
    EXPECT_NE(machine.line.BaudRate, 4);
}

} // namespace
