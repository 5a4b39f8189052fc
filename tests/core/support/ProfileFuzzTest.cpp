// Random and INI-shaped input against the reader, the in-memory profile calls and the
// table-driven store. Buffers are allocated at their exact size so that the sanitizer build
// catches any byte read or written past them. The seed is fixed: a failure repeats.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TempDir.h"
#include "settings/ProfileStore.h"
#include "support/IniFile.h"
#include "support/Profile.h"

namespace corvane {
namespace {

class Generator {
public:
    explicit Generator(uint32_t seed) : m_random(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    std::string bytes(int maxLength) {
        std::string out(static_cast<size_t>(below(maxLength + 1)), '\0');
        for (char& c : out) {
            c = static_cast<char>(below(256));
        }
        return out;
    }

    // Text made of the pieces an INI file is made of, in any order.
    std::string iniText(int pieces) {
        static constexpr const char* Pieces[] = {
            "[",
            "]",
            "=",
            ";",
            "\"",
            "\r\n",
            "\n",
            "\r",
            " ",
            "\t",
            "sec",
            "Sec",
            "SEC",
            "key",
            "KEY",
            "k",
            "1",
            "-",
            "+",
            ",",
            "0",
            "9999999999",
            "\xEF\xBB\xBF",
            "\xE3\x80\x81",
            "@_ErrorSection",
            "\n[sec]\n",
            "\nkey=",
            "\nkey=\"",
            "x",
        };
        std::string out;
        int n = below(pieces + 1);
        for (int i = 0; i < n; ++i) {
            int choice = below(static_cast<int>(std::size(Pieces)) + 2);
            if (choice == static_cast<int>(std::size(Pieces))) {
                out += '\0';
            } else if (choice == static_cast<int>(std::size(Pieces)) + 1) {
                out += std::string(static_cast<size_t>(below(3000)), 'v');
            } else {
                out += Pieces[choice];
            }
        }
        return out;
    }

    std::string name() {
        static constexpr char Letters[] = "abcSECkeyKEY019_.";
        std::string out(static_cast<size_t>(1 + below(4)), 'a');
        for (char& c : out) {
            c = Letters[below(static_cast<int>(sizeof Letters) - 1)];
        }
        return out;
    }

private:
    std::mt19937 m_random;
};

void probe(const IniFile& ini, Generator& gen) {
    const char* sections[] = {"sec", "SEC", "", "x"};
    const char* keys[] = {"key", "k", "KEY", "x"};
    for (const char* section : sections) {
        (void)ini.hasSection(section);
        for (const char* key : keys) {
            (void)ini.get(section, key);
            int count = 1 + gen.below(8);
            auto text = std::make_unique<char[]>(static_cast<size_t>(count));
            if (ProfileGetValue(ini, section, key, ProfileText, text.get(), count)) {
                EXPECT_LT(std::strlen(text.get()), static_cast<size_t>(count));
            }
            auto numbers = std::make_unique<int32_t[]>(static_cast<size_t>(count));
            (void)ProfileGetValue(ini, section, key, ProfileIntegers, numbers.get(), count);
        }
    }
}

TEST(ProfileFuzz, readerSurvivesAnyInput) {
    Generator gen(20240611);
    for (int round = 0; round < 5000; ++round) {
        std::string text = (round % 2 == 0) ? gen.bytes(400) : gen.iniText(60);
        IniFile ini = IniFile::parse(text);
        probe(ini, gen);
        // Writing out and reading back changes nothing a reader can see.
        std::string once = ini.text();
        EXPECT_EQ(IniFile::parse(once).text(), once);
        EXPECT_EQ(IniFile::parse(once).get("sec", "key"), ini.get("sec", "key"));
    }
}

TEST(ProfileFuzz, whatIsSetIsReadBack) {
    Generator gen(7);
    for (int round = 0; round < 4000; ++round) {
        IniFile ini = IniFile::parse(gen.iniText(40));
        std::string section = gen.name();
        std::string key = gen.name();
        std::string value = gen.bytes(40);
        for (char& c : value) {
            if (c == '\r' || c == '\n' || c == '\0') {
                c = ' ';
            }
        }
        ini.set(section, key, ProfileQuoteText(value));
        // Only the first section of a name counts; a document that already holds one keeps
        // its place, so the value must be found there.
        EXPECT_EQ(ini.get(section, key), value) << "section " << section << " key " << key;
        EXPECT_EQ(IniFile::parse(ini.text()).get(section, key), value);
    }
}

TEST(ProfileFuzz, splitListAndParseIntStayInBounds) {
    Generator gen(99);
    for (int round = 0; round < 3000; ++round) {
        std::string text = gen.bytes(64);
        std::string separators = gen.bytes(4);
        auto buffer = std::make_unique<char[]>(text.size() + 1);
        std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
        auto seps = std::make_unique<char[]>(separators.size() + 1);
        std::memcpy(seps.get(), separators.c_str(), separators.size() + 1);
        int fields = SplitList(buffer.get(), seps.get());
        EXPECT_GE(fields, 0);
        EXPECT_LE(static_cast<size_t>(fields), text.size() + 1);
        (void)ProfileParseInt(text);
    }
}

TEST(ProfileFuzz, storeReadsAnyFile) {
    test::TempDir dir;
    std::string path = dir.file("fuzz.cfg");
    Generator gen(4242);
    for (int round = 0; round < 600; ++round) {
        test::writeFile(path, (round % 3 == 0) ? gen.bytes(600) : gen.iniText(80));
        int count = 1 + gen.below(5);
        auto text = std::make_unique<char[]>(static_cast<size_t>(count));
        auto i8 = std::make_unique<int8_t[]>(static_cast<size_t>(count));
        auto i16 = std::make_unique<int16_t[]>(static_cast<size_t>(count));
        auto i32 = std::make_unique<int32_t[]>(static_cast<size_t>(count));
        auto f32 = std::make_unique<float[]>(static_cast<size_t>(count));
        auto f64 = std::make_unique<double[]>(static_cast<size_t>(count));
        ProfileItem items[] = {
            {"sec", "key", ProfileTypeText, count, text.get(), 0},
            {nullptr, "key", ProfileTypeInt8 | ProfileTypeList, count, i8.get(), 0},
            {nullptr, "k", ProfileTypeInt16 | ProfileTypeList, count, i16.get(), 0},
            {nullptr, "KEY", ProfileTypeInt32 | ProfileTypeList, count, i32.get(), 0},
            {"SEC", "key", ProfileTypeFloat | ProfileTypeList, count, f32.get(), 0},
            {nullptr, "k", ProfileTypeDouble | ProfileTypeList, count, f64.get(), 0},
            {nullptr, "x", ProfileTypeInt32, 0, i32.get(), 0},
        };
        (void)ProfileRead(path.c_str(), items, static_cast<int>(std::size(items)));
        (void)ProfileRead(("HKEY_USERS\\" + gen.bytes(8)).c_str(), items, 1, dir.path().c_str());
    }
}

} // namespace
} // namespace corvane
