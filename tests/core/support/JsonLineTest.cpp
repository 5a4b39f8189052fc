// The journal's and the broker's JSON: one flat object on one line, read strictly. The lines
// expected here are literal: a record must keep its bytes whatever library writes it, because
// the journal chains records by the digest of their lines and auditors compare them.

#include <gtest/gtest.h>

#include "serve/JournalRecord.h"
#include "support/JsonLine.h"

using namespace corvane;

TEST(Json, writtenLineKeepsKeyOrderAndTheJournalsEscapes) {
    const std::string awkward =
        std::string("quote\" back\\ tab\t nl\n cr\r bell\x07 bs\b ff\f esc\x1b del\x7f nul") +
        std::string(1, '\0') + " / \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
    JsonWriteObject w;
    w["s"] = awkward;
    w["n"] = int64_t{-42};
    w["u"] = uint64_t{18446744073709551615u};
    w["t"] = true;
    w["z"] = nullptr;
    w["a"] = "last key, first in the alphabet";
    const std::string text = jsonLine(w);
    EXPECT_EQ(text,
              "{\"s\":\"quote\\\" back\\\\ tab\\t nl\\n cr\\r bell\\u0007 bs\\u0008 ff\\u000c "
              "esc\\u001b del\\u007f nul\\u0000 / \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\","
              "\"n\":-42,\"u\":18446744073709551615,\"t\":true,\"z\":null,"
              "\"a\":\"last key, first in the alphabet\"}");

    const JsonParse parsed = parseFlatJsonObject(text);
    ASSERT_TRUE(parsed.object) << parsed.error;
    EXPECT_EQ(jsonString(*parsed.object, "s"), awkward);
    EXPECT_EQ(jsonNumber(*parsed.object, "n"), -42.0);
    EXPECT_EQ(jsonNumber(*parsed.object, "u"), 18446744073709551615.0);
    EXPECT_EQ(jsonBool(*parsed.object, "t"), true);
    EXPECT_TRUE(parsed.object->at("z").is_null());
}

TEST(Json, bytesThatAreNotUtf8BecomeOneReplacementEach) {
    // A file name from an 8-bit code page must not make the journal line unreadable; each byte
    // that starts no UTF-8 sequence is one U+FFFD, a cut sequence included (as always written).
    struct Case {
        std::string in;
        std::string out;
    } const cases[] = {
        {"O\xFF\xC0.NC", "O\xEF\xBF\xBD\xEF\xBF\xBD.NC"},
        {"cut \xE6\x97", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"cut \xE6\x97"
         "A",
         "cut \xEF\xBF\xBD\xEF\xBF\xBD"
         "A"},
        {"overlong \xC0\xAF \xE0\x80\x80",
         "overlong \xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"past \xF4\x90\x80\x80", "past \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"latin-1 caf\xE9", "latin-1 caf\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        JsonWriteObject w;
        w["f"] = c.in;
        const std::string text = jsonLine(w);
        EXPECT_EQ(text, "{\"f\":\"" + c.out + "\"}") << c.in;
        EXPECT_TRUE(parseFlatJsonObject(text).object) << c.in;
    }
}

TEST(Json, readerAcceptsOnlyOneFlatObject) {
    const char* bad[] = {
        "",
        "[]",
        "\"x\"",
        "{",
        "{\"a\":1,}",
        "{\"a\" 1}",
        "{a:1}",
        "{\"a\":{\"b\":1}}",
        "{\"a\":[1]}",
        "{\"a\":1} x",
        "{\"a\":01}",
        "{\"a\":1.}",
        "{\"a\":NaN}",
        "{\"a\":tru}",
        "{\"a\":\"\\x\"}",
        "{\"a\":\"\\ud800\"}",
        "{\"a\":\"ctl\x01\"}",
        "{\"a\":\"\xC0\xAF\"}",
        "{\"a\":1e999}",
        "{\"a\":-1e999}",
        "{\"a\":\"unterminated}",
        "\xEF\xBB\xBF{\"a\":1}",
        "{\"a\":1} /* note */",
        "{\"a\":1}\n{\"b\":2}",
        "{\"a\":Infinity}",
        "{\"a\":+1}",
    };
    for (const char* text : bad) {
        const JsonParse parsed = parseFlatJsonObject(text);
        EXPECT_FALSE(parsed.object) << "accepted: " << text;
        EXPECT_FALSE(parsed.error.empty()) << text;
    }
    // The reason names no byte of the text: that comes from anyone on the broker.
    const JsonParse secret = parseFlatJsonObject("{\"a\":\"\x1b]0;owned\x07\" junk");
    EXPECT_EQ(secret.error.find("owned"), std::string::npos) << secret.error;
    EXPECT_NE(secret.error.find("at byte"), std::string::npos) << secret.error;
    EXPECT_EQ(parseFlatJsonObject("{\"a\":{}}").error, "nested values are not accepted");

    const JsonParse ok =
        parseFlatJsonObject(" {\"send\" : \"O0012\", \"id\":\"a\\u00e9\\ud83d\\ude00\", "
                            "\"n\":-1.5e2, \"send\":\"O7\"} \r\n");
    ASSERT_TRUE(ok.object) << ok.error;
    EXPECT_EQ(jsonString(*ok.object, "send"), "O7") << "the last of duplicate keys wins";
    EXPECT_EQ(jsonString(*ok.object, "id"), "a\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(jsonNumber(*ok.object, "n"), -150.0);
    EXPECT_FALSE(jsonString(*ok.object, "n")) << "a number is not a string";
    EXPECT_FALSE(jsonBool(*ok.object, "send"));
    EXPECT_FALSE(jsonNumber(*ok.object, "missing"));
}

TEST(JournalRecord, journalLineHasEveryFieldAndNullForNoRequest) {
    serve::JournalRecord r;
    r.time = "2026-12-09T07:15:02Z";
    r.line = "mill1";
    r.direction = "receive";
    r.file = "/srv/in/O0012.NC";
    r.bytes = 120;
    r.sha256 = "ab";
    r.result = serve::TransferResult::NotFound;
    r.millis = 7;
    r.message = "m";
    EXPECT_EQ(serve::toJson(r),
              "{\"time\":\"2026-12-09T07:15:02Z\",\"line\":\"mill1\",\"direction\":\"receive\","
              "\"request\":null,\"file\":\"/srv/in/O0012.NC\",\"bytes\":120,\"sha256\":\"ab\","
              "\"result\":\"not-found\",\"millis\":7,\"message\":\"m\"}");
    r.request = "O7";
    r.commandId = "c1";
    r.bytes = 18446744073709551615u;
    r.file = "/srv/in/caf\xE9 \"1\".NC";
    r.message = "line\r\nbroken\tby the machine\x13";
    EXPECT_EQ(
        serve::toJson(r),
        "{\"time\":\"2026-12-09T07:15:02Z\",\"line\":\"mill1\",\"direction\":\"receive\","
        "\"request\":\"O7\",\"file\":\"/srv/in/caf\xEF\xBF\xBD \\\"1\\\".NC\","
        "\"bytes\":18446744073709551615,\"sha256\":\"ab\",\"result\":\"not-found\",\"millis\":7,"
        "\"message\":\"line\\r\\nbroken\\tby the machine\\u0013\",\"command\":\"c1\"}");
}
