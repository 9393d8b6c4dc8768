// What the host dialog edits beside the record: the host's extended settings, with the
// document's other hosts for "Depends on".
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/HostExtras.h"
#include "core/Vardo.h"

struct HostEdit {
    HostExtras extras;
    // The names a host may depend on: every other host's, once each, in list order.
    std::vector<std::string> otherHosts;
    // When the host, under the name given, depending on the parents given would close a ring,
    // the ring ("gw -> core -> gw"); nothing when it would not.
    std::function<std::optional<std::string>(const std::string& name,
                                             const std::vector<std::string>& parents)>
        ringWith;
};

// For host index of doc, or for a new host appended to it when index is empty.
HostEdit hostEditFor(const ServerDoc& doc, std::optional<std::size_t> index);
