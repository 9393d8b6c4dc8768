#include "core/Presentation.h"

std::string typeText(const ServerItem& item) {
    if (item.type == HostTcpIp) {
        switch (item.tcpType) {
            case TcpConnectOnly:
                return "TCP Connect";
            case TcpConnectReceive:
                return "TCP Connect/Recv";
            case TcpConnectSendReceive:
                return "TCP Connect/Send/Recv";
            case TcpHttpRequest:
                return "HTTP(S)";
            default:
                return "";
        }
    }
    if (item.type == HostPing) {
        return "Ping";
    }
    return "Service";
}

std::string statusText(const ServerItem& item) {
    if (item.status == StatusChecking) {
        return "Checking...";
    }
    if (item.status == StatusSuccess) {
        return "Success";
    }
    return "Failure (" + stringify(item.consecutiveFailures) + ")";
}

int failureIcon(const ServerItem& item) {
    return item.isDown() ? RowIcon::Down : RowIcon::Failed;
}

namespace {

struct Look {
    int icon;
    RowColour colour;
};

// A rebuild leaves a successful row in the grid's default colour; only the monitor's
// update paints it black.
Look rebuildLook(const ServerItem& item) {
    if (item.status == StatusChecking) {
        return {RowIcon::Checking, RowColour::Black};
    }
    if (item.status == StatusSuccess) {
        return {RowIcon::Success, RowColour::Default};
    }
    return {failureIcon(item), RowColour::Red};
}

}  // namespace

ResultRow resultRowFor(const ServerItem& item) {
    const Look look = rebuildLook(item);
    return ResultRow{
        {item.name, typeText(item), statusText(item), stringify(item.goodCount), stringify(item.badCount)},
        look.icon,
        look.colour};
}

HostRow hostRowFor(const ServerItem& item) {
    const Look look = rebuildLook(item);
    return HostRow{{item.name, item.address}, look.icon, look.colour};
}

void applyChecking(ResultRow& row) {
    row.icon = RowIcon::Checking;
    row.cells[ResultColumn::Status] = "Checking...";
}

void applyCounts(ResultRow& row, const ServerItem& item) {
    row.cells[ResultColumn::GoodCount] = stringify(item.goodCount);
    row.cells[ResultColumn::BadCount] = stringify(item.badCount);
}

void applyStatus(ResultRow& row, const ServerItem& item) {
    if (item.status == StatusSuccess) {
        row.icon = RowIcon::Success;
        row.colour = RowColour::Black;
        row.cells[ResultColumn::Status] = "Success";
    } else {
        row.icon = failureIcon(item);
        row.colour = RowColour::Red;
        row.cells[ResultColumn::Status] = "Failure (" + stringify(item.consecutiveFailures) + ")";
    }
}
