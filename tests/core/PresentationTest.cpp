#include <gtest/gtest.h>

#include "core/Presentation.h"

namespace {

ServerItem host(const std::string& name, std::int32_t status, std::int32_t c, std::int32_t allowed) {
    ServerItem it;
    it.name = name;
    it.address = name + ".lan";
    it.status = status;
    it.consecutiveFailures = c;
    it.failuresAllowed = allowed;
    return it;
}

TEST(RowModel, NeverCheckedHostShowsFailureZeroInYellowAndRed) {
    const ServerItem it = host("a", StatusFailure, 0, 0);
    const ResultRow row = resultRowFor(it);
    EXPECT_EQ(row.cells, (std::array<std::string, 5>{"a", "TCP Connect", "Failure (0)", "0", "0"}));
    EXPECT_EQ(row.icon, RowIcon::Failed);
    EXPECT_EQ(row.colour, RowColour::Red);
}

TEST(RowModel, DownHostHasTheRedLampInBothGrids) {
    const ServerItem it = host("b", StatusFailure, 3, 2);
    EXPECT_EQ(resultRowFor(it).icon, RowIcon::Down);
    EXPECT_EQ(resultRowFor(it).cells[ResultColumn::Status], "Failure (3)");
    const HostRow h = hostRowFor(it);
    EXPECT_EQ(h.cells, (std::array<std::string, 2>{"b", "b.lan"}));
    EXPECT_EQ(h.icon, RowIcon::Down);
    EXPECT_EQ(h.colour, RowColour::Red);
}

TEST(RowModel, SuccessIsBlackAfterAnUpdateButDefaultAfterARebuild) {
    ServerItem it = host("c", StatusSuccess, 0, 0);
    it.goodCount = 9;
    ResultRow rebuilt = resultRowFor(it);
    EXPECT_EQ(rebuilt.colour, RowColour::Default);
    EXPECT_EQ(rebuilt.icon, RowIcon::Success);
    ResultRow updated = resultRowFor(host("c", StatusFailure, 1, 0));
    applyStatus(updated, it);
    EXPECT_EQ(updated.colour, RowColour::Black);
    EXPECT_EQ(updated.icon, RowIcon::Success);
    EXPECT_EQ(updated.cells[ResultColumn::Status], "Success");
}

TEST(RowModel, CheckingKeepsTheColourAndRebuildShowsBlack) {
    ResultRow row = resultRowFor(host("d", StatusFailure, 1, 0));
    applyChecking(row);
    EXPECT_EQ(row.icon, RowIcon::Checking);
    EXPECT_EQ(row.cells[ResultColumn::Status], "Checking...");
    EXPECT_EQ(row.colour, RowColour::Red);
    const ResultRow rebuilt = resultRowFor(host("d", StatusChecking, 1, 0));
    EXPECT_EQ(rebuilt.icon, RowIcon::Checking);
    EXPECT_EQ(rebuilt.colour, RowColour::Black);
}

TEST(RowModel, TypeTexts) {
    ServerItem it;
    const std::pair<std::int8_t, const char*> tcp[] = {
        {0, "TCP Connect"}, {1, "TCP Connect/Recv"}, {2, "TCP Connect/Send/Recv"}, {7, ""}, {-1, ""}};
    for (const auto& [sub, text] : tcp) {
        it.tcpType = sub;
        EXPECT_EQ(typeText(it), text);
    }
    it.type = HostPing;
    it.tcpType = 9;
    EXPECT_EQ(typeText(it), "Ping");
    it.type = HostService;
    EXPECT_EQ(typeText(it), "Service");
    it.type = 5;
    EXPECT_EQ(typeText(it), "Service");
}

}  // namespace
