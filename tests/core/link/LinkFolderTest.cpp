// The per-user folder of the instance link: where it is, and that a folder other users can
// reach or that belongs to someone else is never used.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "app/LinkFolder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

TEST(LinkFolder, pathFollowsTheRuntimeFolderElseTheTemporaryOne) {
    struct Case {
        const char* runtimeDir;
        std::string temp;
        uint32_t uid;
        std::string expected;
    };
    const Case cases[] = {
        {"/run/user/1000", "/tmp", 1000, "/run/user/1000/corvane"},
        {"/run/user/1000/", "/tmp", 1000, "/run/user/1000/corvane"},
        {nullptr, "/tmp", 1000, "/tmp/corvane-1000"},
        {"", "/var/tmp/", 42, "/var/tmp/corvane-42"},
        {"relative/run", "/tmp", 7, "/tmp/corvane-7"},
        {nullptr, "", 0, "/tmp/corvane-0"},
        {nullptr, "scratch", 5, "/tmp/corvane-5"},
        {nullptr, "/", 5, "/corvane-5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(LinkFolderPath(c.runtimeDir, c.temp, c.uid), c.expected);
    }
}

TEST(LinkFolder, socketNamesInTheFolder) {
    EXPECT_EQ(LinkServerPath("/run/user/5/corvane"), "/run/user/5/corvane/CVN_FrameClass");
    EXPECT_EQ(NotifySocketPath("/f", 0x00AB12CD), "/f/corvane-notify-00ab12cd");
    EXPECT_EQ(NotifySocketPath("/f", 0xFFFFFFFF), "/f/corvane-notify-ffffffff");
    EXPECT_TRUE(FitsSocketAddress("/" + std::string(106, 's')));
    EXPECT_FALSE(FitsSocketAddress("/" + std::string(107, 's')));
    EXPECT_FALSE(FitsSocketAddress(""));
}

class LinkFolderOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "corvane-link-folder-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string m_dir;
};

TEST_F(LinkFolderOnDisk, aMissingFolderIsMadePrivate) {
    const std::string folder = m_dir + "/corvane";
    std::string error;
    ASSERT_EQ(PrepareLinkFolder(folder, ::getuid(), &error), 1) << error;
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 077, 0u);
    // Found again on the next start.
    EXPECT_EQ(PrepareLinkFolder(folder, ::getuid(), &error), 1) << error;
}

TEST_F(LinkFolderOnDisk, anUnsafeFolderIsRefusedAndLeftAlone) {
    struct Case {
        const char* what;
        mode_t mode;
        bool otherOwner;
        bool link;
        bool plainFile;
    };
    const Case cases[] = {
        {"open to group and others", 0755, false, false, false},
        {"writable by group", 0770, false, false, false},
        {"owned by another user", 0700, true, false, false},
        {"a link to a private folder", 0700, false, true, false},
        {"a plain file", 0600, false, false, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = m_dir + "/case" + std::to_string(n++);
        if (c.plainFile) {
            FILE* f = std::fopen(folder.c_str(), "w");
            ASSERT_NE(f, nullptr);
            std::fclose(f);
        } else if (c.link) {
            const std::string target = folder + "-target";
            ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
            ASSERT_EQ(::symlink(target.c_str(), folder.c_str()), 0);
        } else {
            ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
            ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
        }
        // Another owner without root rights: the folder is ours, the caller claims another uid.
        const uint32_t uid = c.otherOwner ? ::getuid() + 1 : ::getuid();
        std::string error;
        EXPECT_EQ(PrepareLinkFolder(folder, uid, &error), 0);
        EXPECT_FALSE(error.empty());
        if (!c.plainFile && !c.link) {
            struct stat info {};
            ASSERT_EQ(::stat(folder.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, c.mode) << "the folder was changed";
        }
    }
}

TEST_F(LinkFolderOnDisk, aFolderWhoseParentIsMissingIsRefused) {
    std::string error;
    EXPECT_EQ(PrepareLinkFolder(m_dir + "/no/such/corvane", ::getuid(), &error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(PrepareLinkFolder("", ::getuid(), &error), 0);
}

} // namespace
} // namespace corvane
