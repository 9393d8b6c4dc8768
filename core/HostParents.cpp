#include "core/HostParents.h"

#include <algorithm>
#include <utility>

std::vector<std::string> parentNames(const HostExtras& extras) {
    std::vector<std::string> names;
    const auto found = extras.find(kParentsKey);
    if (found == extras.end()) {
        return names;
    }
    const std::string& text = found->second;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > from) {
            names.push_back(text.substr(from, end - from));
        }
        from = end + 1;
    }
    return names;
}

void setParentNames(HostExtras& extras, const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        if (!name.empty()) {
            text += (text.empty() ? "" : "\n") + name;
        }
    }
    if (text.empty()) {
        extras.erase(kParentsKey);
    } else {
        extras[kParentsKey] = text;
    }
}

ParentGraph::ParentGraph(const std::vector<std::string>& names, const std::vector<HostExtras>& extras)
    : names_(names), parents_(names.size()) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        first_.try_emplace(names[i], i);
    }
    for (std::size_t i = 0; i < names.size() && i < extras.size(); ++i) {
        for (const std::string& name : parentNames(extras[i])) {
            const std::optional<std::size_t> parent = find(name);
            if (parent && std::find(parents_[i].begin(), parents_[i].end(), *parent) == parents_[i].end()) {
                parents_[i].push_back(*parent);
                empty_ = false;
            }
        }
    }
}

std::optional<std::size_t> ParentGraph::find(const std::string& name) const {
    const auto it = first_.find(name);
    if (it == first_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::vector<std::size_t> ParentGraph::checkOrder() const {
    std::vector<std::size_t> order;
    if (empty_) {
        return order;
    }
    std::vector<bool> seen(parents_.size(), false);
    // Depth first, parents before the host itself, on a stack of its own so that a long
    // chain of parents cannot exhaust the thread's. A host met again while its own parents
    // are still being visited closes a ring, and that link is left out.
    std::vector<std::pair<std::size_t, std::size_t>> stack;  // host, next parent to visit
    for (std::size_t root = 0; root < parents_.size(); ++root) {
        if (seen[root]) {
            continue;
        }
        seen[root] = true;
        stack.emplace_back(root, 0);
        while (!stack.empty()) {
            auto& [host, next] = stack.back();
            if (next < parents_[host].size()) {
                const std::size_t parent = parents_[host][next++];
                if (!seen[parent]) {
                    seen[parent] = true;
                    stack.emplace_back(parent, 0);
                }
                continue;
            }
            order.push_back(host);
            stack.pop_back();
        }
    }
    return order;
}

std::optional<std::string> ParentGraph::ringWith(std::size_t index,
                                                 const std::vector<std::string>& parents) const {
    std::vector<std::vector<std::size_t>> links = parents_;
    if (index >= links.size()) {
        return std::nullopt;
    }
    links[index].clear();
    for (const std::string& name : parents) {
        if (const std::optional<std::size_t> parent = find(name)) {
            links[index].push_back(*parent);
        }
    }
    // A path from one of the new parents back to the host, breadth first so the ring named
    // is a shortest one.
    std::vector<std::size_t> cameFrom(links.size(), links.size());
    std::vector<std::size_t> queue;
    for (const std::size_t parent : links[index]) {
        if (parent == index) {
            return names_[index] + " -> " + names_[index];
        }
        if (cameFrom[parent] == links.size()) {
            cameFrom[parent] = index;
            queue.push_back(parent);
        }
    }
    for (std::size_t q = 0; q < queue.size(); ++q) {
        for (const std::size_t next : links[queue[q]]) {
            if (next == index) {
                std::string ring = names_[index];
                for (std::size_t at = queue[q]; at != index; at = cameFrom[at]) {
                    ring.insert(names_[index].size(), " -> " + names_[at]);
                }
                return ring + " -> " + names_[index];
            }
            if (cameFrom[next] == links.size() && next != index) {
                cameFrom[next] = queue[q];
                queue.push_back(next);
            }
        }
    }
    return std::nullopt;
}
