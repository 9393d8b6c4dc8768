#include "core/CycleOrder.h"

#include "core/HostParents.h"

CycleOrder::CycleOrder(const ServerDoc& doc) {
    doc.withItemsAndExtras(
        [this](const std::vector<ServerItem>& items, const std::vector<HostExtras>& extras) {
            std::vector<std::string> names;
            names.reserve(items.size());
            for (const ServerItem& item : items) {
                names.push_back(item.name);
            }
            order_ = ParentGraph(names, extras).checkOrder();
        });
    // Hosts added during a reordered cycle wait for the next one, as a host's place in the
    // order would otherwise be guessed.
    extra_ = order_.empty() ? 0 : static_cast<std::size_t>(-1) / 2;
}
