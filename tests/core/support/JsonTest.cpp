#include <gtest/gtest.h>

#include "serve/JournalRecord.h"
#include "support/Json.h"

using namespace corvane;

TEST(Json, writtenTextIsReadBackUnchanged) {
    const std::string awkward = std::string("quote\" back\\ tab\t nl\n bell\x07 del\x7f ") +
                                "\xE6\x97\xA5\xE6\x9C\xAC"; // Japanese, valid UTF-8
    JsonObjectWriter w;
    w.add("s", awkward).add("n", int64_t{-42}).add("u", uint64_t{18446744073709551615u});
    w.add("t", true).addNull("z").add("none", std::optional<std::string>{});
    const std::string text = w.text();
    EXPECT_EQ(text.find('\n'), std::string::npos) << "one object, one line";

    const JsonParse parsed = parseFlatJsonObject(text);
    ASSERT_TRUE(parsed.object) << parsed.error;
    EXPECT_EQ(jsonString(*parsed.object, "s"), awkward);
    EXPECT_EQ(jsonNumber(*parsed.object, "n"), -42.0);
    EXPECT_EQ(jsonBool(*parsed.object, "t"), true);
    EXPECT_EQ(parsed.object->at("z").kind, JsonValue::Kind::Null);
    EXPECT_EQ(parsed.object->at("none").kind, JsonValue::Kind::Null);
}

TEST(Json, bytesThatAreNotUtf8StillGiveValidJson) {
    // A file name from an 8-bit code page must not make the journal line unreadable.
    const std::string text = JsonObjectWriter().add("f", std::string("O\xFF\xC0.NC")).text();
    EXPECT_EQ(text, "{\"f\":\"O\xEF\xBF\xBD\xEF\xBF\xBD.NC\"}");
    EXPECT_TRUE(parseFlatJsonObject(text).object);
}

TEST(Json, readerAcceptsOnlyOneFlatObject) {
    const char* bad[] = {
        "", "[]", "\"x\"", "{", "{\"a\":1,}", "{\"a\" 1}", "{a:1}", "{\"a\":{\"b\":1}}",
        "{\"a\":[1]}", "{\"a\":1} x", "{\"a\":01}", "{\"a\":1.}", "{\"a\":NaN}", "{\"a\":tru}",
        "{\"a\":\"\\x\"}", "{\"a\":\"\\ud800\"}", "{\"a\":\"ctl\x01\"}", "{\"a\":\"\xC0\xAF\"}",
        "{\"a\":1e999}", "{\"a\":\"unterminated}",
    };
    for (const char* text : bad)
        EXPECT_FALSE(parseFlatJsonObject(text).object) << "accepted: " << text;

    const JsonParse ok = parseFlatJsonObject(
        " {\"send\" : \"O0012\", \"id\":\"a\\u00e9\\ud83d\\ude00\", \"n\":-1.5e2, \"send\":\"O7\"} ");
    ASSERT_TRUE(ok.object) << ok.error;
    EXPECT_EQ(jsonString(*ok.object, "send"), "O7") << "the last of duplicate keys wins";
    EXPECT_EQ(jsonString(*ok.object, "id"), "a\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(jsonNumber(*ok.object, "n"), -150.0);
    EXPECT_FALSE(jsonString(*ok.object, "n")) << "a number is not a string";
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
    const JsonParse back = parseFlatJsonObject(serve::toJson(r));
    ASSERT_TRUE(back.object);
    EXPECT_EQ(jsonString(*back.object, "request"), "O7");
    EXPECT_EQ(jsonString(*back.object, "command"), "c1");
}
