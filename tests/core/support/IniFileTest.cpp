#include "support/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "TempDir.h"

using namespace std::string_literals;

namespace corvane {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct ReadCase {
    const char* what;
    std::string text;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

TEST(IniFile, readsLikeThePlatformProfileReader) {
    const ReadCase cases[] = {
        {"names ignore case", "[Line]\nBaudRate=9600\n", "LINE", "baudrate", "9600"},
        {"first key wins", "[s]\nk=1\nK=2\n", "s", "k", "1"},
        {"first section wins", "[s]\nk=1\n[S]\nk=2\n", "s", "k", "1"},
        {"a later section of the same name is not searched", "[s]\na=1\n[S]\nk=2\n", "s", "k",
         std::nullopt},
        {"blanks around names and values", "  [ sec ]  \n\t key  =  some value \t\n", "sec", "key",
         "some value"},
        {"quotes removed", "[s]\nk=\"  padded  \"\n", "s", "k", "  padded  "},
        {"lone opening quote kept", "[s]\nk=\"open\n", "s", "k", "\"open"},
        {"single quote character kept", "[s]\nk=\"\n", "s", "k", "\""},
        {"empty quotes give empty text", "[s]\nk=\"\"\n", "s", "k", ""},
        {"only one pair removed", "[s]\nk=\"\"x\"\"\n", "s", "k", "\"x\""},
        {"empty value is found", "[s]\nk=\n", "s", "k", ""},
        {"equals sign inside the value", "[s]\nk=a=b\n", "s", "k", "a=b"},
        {"comment line is no key", "[s]\n;k=1\nk=2\n", "s", "k", "2"},
        {"key before any section belongs to none", "k=1\n[s]\n", "s", "k", std::nullopt},
        {"line without equals sign ignored", "[s]\ngarbage\nk=v\n", "s", "k", "v"},
        {"CR LF endings", "[s]\r\nk=v\r\nj=w\r\n", "s", "k", "v"},
        {"last line without line end", "[s]\nk=v", "s", "k", "v"},
        {"byte-order mark before the first section", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "v"},
        {"section header without closing bracket", "[s\nk=v\n", "s", "k", "v"},
        {"text after the closing bracket ignored", "[s] ; note\nk=v\n", "s", "k", "v"},
        {"NUL byte inside a value kept", "[s]\nk=a\0b\n"s, "s", "k", "a\0b"s},
        {"missing key", "[s]\nk=v\n", "s", "x", std::nullopt},
        {"missing section", "[s]\nk=v\n", "t", "k", std::nullopt},
        {"empty key never matches", "[s]\n=v\n", "s", "", std::nullopt},
    };
    for (const ReadCase& c : cases) {
        EXPECT_EQ(IniFile::parse(c.text).get(c.section, c.key), c.expected) << c.what;
    }
}

TEST(IniFile, hasSectionComparesWithoutCase) {
    IniFile ini = IniFile::parse("[Machine]\n");
    EXPECT_TRUE(ini.hasSection("MACHINE"));
    EXPECT_FALSE(ini.hasSection("Machin"));
}

struct EditCase {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

TEST(IniFile, setChangesOnlyWhatItMust) {
    const EditCase cases[] = {
        {"replaces the value, keeps the key's spelling and the comments",
         "; head\n[S]\n; note\nKey = old\nother=1\n", "s", "key", "new",
         "; head\n[S]\n; note\nKey = new\nother=1\n"},
        {"appends a key after the section's last line, before the blank line",
         "[a]\nx=1\n\n[b]\ny=2\n", "A", "z", "3", "[a]\nx=1\nz=3\n\n[b]\ny=2\n"},
        {"appends a new section after a blank line", "[a]\nx=1\n", "b", "y", "2",
         "[a]\nx=1\n\n[b]\ny=2\n"},
        {"new document", "", "s", "k", "v", "[s]\nk=v\n"},
        {"keeps CR LF", "[a]\r\nx=1\r\n", "a", "y", "2", "[a]\r\nx=1\r\ny=2\r\n"},
        {"keeps the byte-order mark", "\xEF\xBB\xBF[a]\nx=1\n", "a", "x", "2",
         "\xEF\xBB\xBF[a]\nx=2\n"},
        {"changes only the first section of a name", "[a]\nx=1\n[A]\nx=1\n", "a", "x", "2",
         "[a]\nx=2\n[A]\nx=1\n"},
        {"a line break ends the value", "[a]\n", "a", "x", "1\n[evil]\ny=2", "[a]\nx=1\n"},
        {"an empty key is ignored", "[a]\n", "a", "", "1", "[a]\n"},
        {"adds a missing final line end", "[a]\nx=1", "a", "x", "2", "[a]\nx=2\n"},
    };
    for (const EditCase& c : cases) {
        IniFile ini = IniFile::parse(c.before);
        ini.set(c.section, c.key, c.value);
        EXPECT_EQ(ini.text(), c.after) << c.what;
    }
}

TEST(IniFile, missingFileLoadsEmptyWithoutError) {
    TempDir dir;
    IniError error;
    IniFile ini = IniFile::load(dir.file("absent.ini"), &error);
    EXPECT_FALSE(error);
    EXPECT_FALSE(ini.exists());
    EXPECT_EQ(ini.text(), "");
}

TEST(IniFile, loadingAFolderIsAnError) {
    TempDir dir;
    IniError error;
    IniFile ini = IniFile::load(dir.path(), &error);
    EXPECT_TRUE(error);
    EXPECT_NE(error.message.find(dir.path()), std::string::npos);
}

// A settings name that points at something other than an ordinary file (a FIFO nobody writes
// to, an endless device, a huge file) is refused at once instead of hanging or filling memory.
TEST(IniFile, onlyOrdinaryFilesOfSettingsSizeAreRead) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.cfg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = dir.file("huge.mdf");
    writeFile(huge, "[MCN_RS232C]\nOutCode=1\n");
    std::filesystem::resize_file(huge, 17u * 1024 * 1024); // sparse: no disk used
    for (const std::string& path : {fifo, std::string("/dev/zero"), huge}) {
        SCOPED_TRACE(path);
        IniError error;
        IniFile ini = IniFile::load(path, &error);
        EXPECT_TRUE(error);
        EXPECT_NE(error.message.find(path), std::string::npos);
        EXPECT_FALSE(ini.exists());
        EXPECT_FALSE(ini.hasSection("MCN_RS232C"));
    }
}

TEST(IniFile, saveReplacesTheFileAndLeavesNoTemporaryBehind) {
    TempDir dir;
    std::string path = dir.file("m.mdf");
    writeFile(path, "[a]\r\nx=1\r\n");
    ::chmod(path.c_str(), 0640);
    IniFile ini = IniFile::load(path);
    ASSERT_TRUE(ini.exists());
    ini.set("a", "x", "2");
    EXPECT_FALSE(ini.save(path));
    EXPECT_EQ(readFile(path), "[a]\r\nx=2\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(IniFile, saveWritesThroughASymbolicLink) {
    TempDir dir;
    std::string real = dir.file("real.cfg");
    std::string link = dir.file("link.cfg");
    writeFile(real, "[a]\nx=1\n");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    IniFile ini = IniFile::load(link);
    ini.set("a", "x", "2");
    EXPECT_FALSE(ini.save(link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(real), "[a]\nx=2\n");
}

TEST(IniFile, saveIntoAMissingFolderFailsNamingThePath) {
    TempDir dir;
    std::string path = dir.file("no/such/folder/x.ini");
    IniError error = IniFile::parse("[a]\nx=1\n").save(path);
    ASSERT_TRUE(error);
    EXPECT_NE(error.message.find(path), std::string::npos);
    EXPECT_NE(error.message.find("No such file or directory"), std::string::npos);
}

TEST(IniFile, failedSaveLeavesTheOldFileWhole) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    TempDir dir;
    std::string folder = dir.file("locked");
    std::filesystem::create_directory(folder);
    std::string path = folder + "/x.ini";
    writeFile(path, "[a]\nx=1\n");
    ::chmod(folder.c_str(), 0555);
    IniFile ini = IniFile::load(path);
    ini.set("a", "x", "2");
    IniError error = ini.save(path);
    ::chmod(folder.c_str(), 0755);
    ASSERT_TRUE(error);
    EXPECT_NE(error.message.find("Permission denied"), std::string::npos);
    EXPECT_EQ(readFile(path), "[a]\nx=1\n");
}

TEST(IniFile, savingOverAFolderFailsAndKeepsIt) {
    TempDir dir;
    std::string folder = dir.file("sub");
    std::filesystem::create_directory(folder);
    writeFile(folder + "/keep", "k");
    EXPECT_TRUE(IniFile::parse("[a]\n").save(folder));
    EXPECT_EQ(readFile(folder + "/keep"), "k");
}

} // namespace
} // namespace corvane
