// Dependencies between the hosts of one document: a host names its parents (a router, a
// switch) under the extended setting "parents", one name a line. A name that matches no host
// is kept but means nothing; one that matches twins means the first of them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/HostExtras.h"

inline constexpr const char* kParentsKey = "parents";

std::vector<std::string> parentNames(const HostExtras& extras);
// The extras with the parents set to names (the key gone when there are none).
void setParentNames(HostExtras& extras, const std::vector<std::string>& names);

// The parents of every host of a list, as list indices.
class ParentGraph {
  public:
    ParentGraph(const std::vector<std::string>& names, const std::vector<HostExtras>& extras);

    const std::vector<std::size_t>& parentsOf(std::size_t index) const { return parents_[index]; }
    bool empty() const { return empty_; }

    // The order to check the hosts in: every host after its parents, otherwise in list
    // order. Empty when no host has a parent in the list (then the list order is the order).
    // Parents that make a ring are ordered as if the link that closes it were not there.
    std::vector<std::size_t> checkOrder() const;

    // When giving host index the parents named would make a ring, the ring's names from
    // that host round to it again ("gw -> core -> gw"); nothing when it would not.
    std::optional<std::string> ringWith(std::size_t index, const std::vector<std::string>& parents) const;

  private:
    std::optional<std::size_t> find(const std::string& name) const;

    std::vector<std::string> names_;
    // Each name's first host: a name that twins means the first of them.
    std::unordered_map<std::string, std::size_t> first_;
    std::vector<std::vector<std::size_t>> parents_;
    bool empty_ = true;
};
