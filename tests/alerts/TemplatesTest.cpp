#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "alerts/Templates.h"

namespace {

// Central European time with its daylight rule, written out so that no time-zone database
// is needed.
class CentralEuropeanTime : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("TZ");
        hadTz_ = old != nullptr;
        if (hadTz_) {
            oldTz_ = old;
        }
        ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        ::tzset();
    }
    void TearDown() override {
        if (hadTz_) {
            ::setenv("TZ", oldTz_.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

    static constexpr std::time_t kWinter = 1796716537;  // 2026-12-08 07:55:37 UTC
    static constexpr std::time_t kSummer = 1783252929;  // 2026-07-05 12:02:09 UTC

    ServerItem backup() const {
        ServerItem it;
        it.name = "Backup";
        it.address = "192.0.2.7";
        it.tcpPort = 80;
        return it;
    }

  private:
    bool hadTz_ = false;
    std::string oldTz_;
};

TEST_F(CentralEuropeanTime, DateTextIsLocalWithZeroPaddedDayInWinterAndSummer) {
    EXPECT_EQ(dateText(kWinter), "Tue Dec 08 08:55:37 2026");
    EXPECT_EQ(dateText(kSummer), "Sun Jul 05 14:02:09 2026");
    EXPECT_EQ(dateText(983797329), "Mon Mar 05 14:02:09 2001");
}

TEST_F(CentralEuropeanTime, DateTextOfAnUnconvertibleTime) {
    EXPECT_EQ(dateText(std::numeric_limits<std::time_t>::max()), "<current time>");
}

TEST_F(CentralEuropeanTime, PlaceholdersOfAHost) {
    const ServerItem it = backup();
    EXPECT_EQ(expandTemplate(it, "The server %s went down at %t", kWinter),
              "The server Backup went down at Tue Dec 08 08:55:37 2026");
    EXPECT_EQ(expandTemplate(it, "%s (%a:%p)", kWinter), "Backup (192.0.2.7:80)");
    EXPECT_EQ(expandTemplate(it, "%t|%t", kSummer), "Sun Jul 05 14:02:09 2026|Sun Jul 05 14:02:09 2026");
}

TEST_F(CentralEuropeanTime, InsertedTextsAreNotExpandedAgain) {
    ServerItem it = backup();
    it.name = "odd %t and %s";
    it.address = "%p%%";
    EXPECT_EQ(expandTemplate(it, "%s/%a", kWinter), "odd %t and %s/%p%%");
}

TEST(Templates, PercentSignsAndUnknownPlaceholders) {
    const ServerItem it;
    const std::time_t t = 0;
    EXPECT_EQ(expandTemplate(it, "", t), "");
    EXPECT_EQ(expandTemplate(it, "100%", t), "100");
    EXPECT_EQ(expandTemplate(it, "100%%", t), "100%");
    EXPECT_EQ(expandTemplate(it, "50%d", t), "50%d");
    EXPECT_EQ(expandTemplate(it, "%", t), "");
    EXPECT_EQ(expandTemplate(it, "%S %A %P %T", t), "%S %A %P %T");
    EXPECT_EQ(expandTemplate(it, "%%s", t), "%s");
}

TEST(Templates, PortIsSignedDecimal) {
    ServerItem it;
    it.tcpPort = -1;
    EXPECT_EQ(expandTemplate(it, "[%p]", 0), "[-1]");
    it.tcpPort = 0;
    EXPECT_EQ(expandTemplate(it, "[%p]", 0), "[0]");
    it.tcpPort = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(expandTemplate(it, "%p", 0), "-2147483648");
}

TEST(Templates, SplitListKeepsEmptyItemsBetweenDelimitersAndBlanks) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitList("", ','), V{});
    EXPECT_EQ(splitList(",", ','), V{""});
    EXPECT_EQ(splitList("a,", ','), V{"a"});
    EXPECT_EQ(splitList("a,,b", ','), (V{"a", "", "b"}));
    EXPECT_EQ(splitList(",a", ','), (V{"", "a"}));
    EXPECT_EQ(splitList("x , y", ','), (V{"x ", " y"}));
    EXPECT_EQ(splitList("a;b,c", ';'), (V{"a", "b,c"}));
}

}  // namespace
