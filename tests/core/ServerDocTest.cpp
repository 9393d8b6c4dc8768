#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "core/Vardo.h"

namespace {

ServerItem host(const std::string& name) {
    ServerItem it;
    it.name = name;
    return it;
}

TEST(ServerItem, DefaultsOfANewRecord) {
    const ServerItem it;
    EXPECT_EQ(it.type, HostTcpIp);
    EXPECT_EQ(it.goodCount, 0);
    EXPECT_EQ(it.badCount, 0);
    EXPECT_EQ(it.failuresAllowed, 0);
    EXPECT_EQ(it.consecutiveFailures, 0);
    EXPECT_EQ(it.status, StatusFailure);
    EXPECT_EQ(it.numPings, 1);
    EXPECT_EQ(it.pingSeconds, 1);
    EXPECT_EQ(it.tcpType, TcpConnectOnly);
    EXPECT_FALSE(it.events.upSound || it.events.downSound || it.events.upCmd || it.events.downCmd ||
                 it.events.shutdown || it.events.startService);
    EXPECT_FALSE(it.notify.notifyUp || it.notify.msgBox || it.notify.netSend);
    EXPECT_TRUE(it.notify.notifyDown);
    EXPECT_TRUE(it.notify.sendMails);
    EXPECT_EQ(it.notify.downMsg, "The server %s went down at %t");
    EXPECT_EQ(it.notify.upMsg, "");
}

TEST(ServerItem, CopyCarriesEveryFieldIncludingRunTime) {
    ServerItem a;
    a.type = HostService;
    a.name = "n";
    a.goodCount = 7;
    a.consecutiveFailures = 3;
    a.status = StatusSuccess;
    a.events.shutdownMachine = "m";
    a.events.startService = true;
    a.notify.netSendList = "x,y";
    a.notify.msgBox = true;
    ServerItem b = a;
    EXPECT_EQ(a, b);
    ServerItem c;
    c = a;
    EXPECT_EQ(a, c);
}

TEST(ServerDoc, ListOperationsAndModifiedFlag) {
    ServerDoc doc;
    EXPECT_EQ(doc.count(), 0u);
    EXPECT_FALSE(doc.modified);
    doc.append(host("a"));
    doc.append(host("b"));
    doc.append(host("c"));
    EXPECT_TRUE(doc.modified);
    ASSERT_TRUE(doc.remove(1));
    EXPECT_EQ(doc.count(), 2u);
    EXPECT_EQ(doc.at(1)->name, "c");
    EXPECT_FALSE(doc.remove(2));
    EXPECT_FALSE(doc.at(2).has_value());
    doc.fileName = "x.vdm";
    doc.errorText = "e";
    doc.reset();
    EXPECT_EQ(doc.count(), 0u);
    EXPECT_EQ(doc.fileName, "");
    EXPECT_EQ(doc.errorText, "");
    EXPECT_FALSE(doc.modified);
}

TEST(ServerDoc, ReplaceKeepsTheRunTimeFieldsTheListHolds) {
    ServerDoc doc;
    ServerItem down = host("web");
    down.failuresAllowed = 1;
    doc.append(down);
    // The monitor takes the host down while a dialog holds an older copy.
    auto snap = doc.snapshot(0);
    ServerItem checked = snap->item;
    checked.consecutiveFailures = 2;
    checked.badCount = 2;
    ASSERT_TRUE(doc.writeBack(*snap, checked));

    ServerItem edited = down;  // the dialog's copy, counts 0
    edited.address = "10.1.1.1";
    doc.modified = false;
    ASSERT_TRUE(doc.replace(0, edited));
    const ServerItem now = *doc.at(0);
    EXPECT_EQ(now.address, "10.1.1.1");
    EXPECT_EQ(now.consecutiveFailures, 2);
    EXPECT_EQ(now.badCount, 2);
    EXPECT_TRUE(now.isDown());
    EXPECT_TRUE(doc.modified);
    EXPECT_FALSE(doc.replace(5, edited));
}

TEST(ServerDoc, WriteBackFindsItsHostAfterTheListChangedAndSkipsARemovedOne) {
    ServerDoc doc;
    doc.append(host("a"));
    doc.append(host("b"));
    auto snapB = doc.snapshot(1);
    auto snapA = doc.snapshot(0);
    ServerItem checked = snapB->item;
    checked.goodCount = 5;
    checked.name = "stale name";  // only run-time fields go back
    doc.remove(0);
    doc.append(host("c"));
    ASSERT_TRUE(doc.writeBack(*snapB, checked));
    EXPECT_EQ(doc.at(0)->name, "b");
    EXPECT_EQ(doc.at(0)->goodCount, 5);
    EXPECT_EQ(doc.at(1)->goodCount, 0);
    EXPECT_FALSE(doc.writeBack(*snapA, checked));
    EXPECT_EQ(doc.count(), 2u);
}

TEST(Stringify, DecimalText) {
    EXPECT_EQ(stringify(0), "0");
    EXPECT_EQ(stringify(-12), "-12");
    EXPECT_EQ(stringify(std::numeric_limits<std::int32_t>::max()), "2147483647");
    EXPECT_EQ(stringify(1234567), "1234567");
}

TEST(AtolText, ReadsLikeAtol) {
    EXPECT_EQ(atolText("  42abc"), 42);
    EXPECT_EQ(atolText("-7"), -7);
    EXPECT_EQ(atolText("+8"), 8);
    EXPECT_EQ(atolText("abc"), 0);
    EXPECT_EQ(atolText(""), 0);
    EXPECT_EQ(atolText("- 5"), 0);
    EXPECT_EQ(atolText("99999999999"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(atolText("-99999999999"), std::numeric_limits<std::int32_t>::min());
}

TEST(CutAtNul, StopsAtTheFirstNul) {
    EXPECT_EQ(cutAtNul(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(cutAtNul("abc"), "abc");
}

}  // namespace
