#include "app/HostEdit.h"

#include <algorithm>

#include "core/HostParents.h"

HostEdit hostEditFor(const ServerDoc& doc, std::optional<std::size_t> index) {
    std::vector<std::string> names;
    std::vector<HostExtras> extras;
    doc.withItemsAndExtras([&](const std::vector<ServerItem>& items, const std::vector<HostExtras>& all) {
        for (const ServerItem& item : items) {
            names.push_back(item.name);
        }
        extras = all;
    });
    extras.resize(names.size());
    const std::size_t own = index && *index < names.size() ? *index : names.size();
    HostEdit edit;
    if (own < names.size()) {
        edit.extras = extras[own];
    } else {
        names.emplace_back();
        extras.emplace_back();
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != own && !names[i].empty() && names[i] != names[own] &&
            std::find(edit.otherHosts.begin(), edit.otherHosts.end(), names[i]) == edit.otherHosts.end()) {
            edit.otherHosts.push_back(names[i]);
        }
    }
    edit.ringWith = [names, extras, own](const std::string& name, const std::vector<std::string>& parents) {
        std::vector<std::string> renamed = names;
        renamed[own] = name;
        return ParentGraph(renamed, extras).ringWith(own, parents);
    };
    return edit;
}
