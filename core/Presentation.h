// The rows that show the document: one result row (monitor view) and one host row
// (configuration view) per host, each with an icon and a text colour.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "core/Vardo.h"

// Indexes into the window's image list.
namespace RowIcon {
constexpr int Down = 3;       // red lamp
constexpr int Success = 4;    // green lamp
constexpr int Failed = 5;     // yellow lamp
constexpr int Checking = 15;  // blue arrow, the Check Now image
}  // namespace RowIcon

enum class RowColour { Default, Black, Red };

struct ResultRow {
    // Name, Type, Status, Good Count, Bad Count.
    std::array<std::string, 5> cells;
    int icon = RowIcon::Failed;
    RowColour colour = RowColour::Default;
    bool operator==(const ResultRow&) const = default;
};

struct HostRow {
    // Name, Address.
    std::array<std::string, 2> cells;
    int icon = RowIcon::Failed;
    RowColour colour = RowColour::Default;
    bool operator==(const HostRow&) const = default;
};

struct ColumnSpec {
    const char* caption;
    int width;
};

inline constexpr std::array<ColumnSpec, 5> kResultColumns{
    {{"Name", 230}, {"Type", 136}, {"Status", 93}, {"Good Count", 93}, {"Bad Count", 95}}};
inline constexpr std::array<ColumnSpec, 2> kHostColumns{{{"Name", 151}, {"Address", 128}}};

namespace ResultColumn {
constexpr int Name = 0;
constexpr int Type = 1;
constexpr int Status = 2;
constexpr int GoodCount = 3;
constexpr int BadCount = 4;
}  // namespace ResultColumn

std::string typeText(const ServerItem& item);
std::string statusText(const ServerItem& item);
// The icon of a failed check: down or not down yet.
int failureIcon(const ServerItem& item);

// The rows as a rebuild fills them.
ResultRow resultRowFor(const ServerItem& item);
HostRow hostRowFor(const ServerItem& item);

// Applies the monitor's single-row updates to a result row.
void applyChecking(ResultRow& row);
void applyCounts(ResultRow& row, const ServerItem& item);
void applyStatus(ResultRow& row, const ServerItem& item);
