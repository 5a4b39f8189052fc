// The service's wrapper must not hide what the real line says about its open: a line to a
// device server is still connecting when the opener returns it.

#include <gtest/gtest.h>

#include "serve/WatchedLine.h"

namespace corvane::serve {
namespace {

class ConnectingLine : public Line {
public:
    bool isFile() const override { return false; }
    bool holds(LineHolds&) override { return true; }
    bool writeByte(uint8_t, uint64_t) override { return true; }
    ReadResult readByte(uint64_t) override { return {}; }
    void holdUntilXon() override {}
    void waitForChange(uint64_t) override {}
    void drainOutput(uint64_t) override {}
    void purge() override {}
    void dropDtr() override {}
    void close() override {}
    bool lost() const override { return gone; }
    LineMessage lostReason() const override { return {7, {}}; }
    OpenProgress continueOpen(uint64_t now) override {
        lastNow = now;
        return progress;
    }
    LineMessage openFailure() const override { return {11, {}}; }
    std::vector<LineMessage> openWarnings() const override { return {{13, {}}, {14, {}}}; }

    OpenProgress progress = OpenProgress::Pending;
    uint64_t lastNow = 0;
    bool gone = false;
};

TEST(WatchedLineTest, PassesTheOpenAndTheReasonsThrough) {
    LineWatch watch;
    auto inner = std::make_unique<ConnectingLine>();
    ConnectingLine* raw = inner.get();
    WatchedLine line(std::move(inner), watch);

    EXPECT_EQ(line.continueOpen(42), OpenProgress::Pending);
    EXPECT_EQ(raw->lastNow, 42u);
    raw->progress = OpenProgress::Failed;
    EXPECT_EQ(line.continueOpen(43), OpenProgress::Failed);
    EXPECT_EQ(line.openFailure().textId, 11);
    ASSERT_EQ(line.openWarnings().size(), 2u);
    EXPECT_EQ(line.openWarnings()[1].textId, 14);

    raw->gone = true;
    EXPECT_TRUE(line.lost());
    EXPECT_TRUE(watch.lost);
    EXPECT_EQ(line.lostReason().textId, 7);
}

} // namespace
} // namespace corvane::serve
